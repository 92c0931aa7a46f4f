#include "app/SignalWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace veltrane {

namespace {

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void SignalWatcher::blockTerminationSignals() {
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    const sigset_t set = terminationSignals();
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
    }
}

SignalWatcher::~SignalWatcher() {
    if (fd_ >= 0) {
        delete notifier_;
        ::close(fd_);
    }
}

void SignalWatcher::readSignal() {
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        emit terminationRequested(static_cast<int>(info.ssi_signo));
    }
}

} // namespace veltrane
