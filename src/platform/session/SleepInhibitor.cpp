#include "platform/session/SleepInhibitor.h"

#include "platform/core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace veltrane {

namespace {

constexpr const char* kScreenSaverService = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kSessionManagerService = "org.gnome.SessionManager";
constexpr const char* kSessionManagerPath = "/org/gnome/SessionManager";
constexpr const char* kApplicationName = "VeltraneRecorder";
// The session manager's flags: inhibit suspending (4) and marking the session idle (8).
constexpr std::uint32_t kSessionManagerFlags = 4 | 8;
constexpr int kReleaseTimeoutMs = 1000;

} // namespace

SleepInhibitor::SleepInhibitor(QString reason, QObject* parent)
    : QObject(parent), reason_(std::move(reason)) {}

SleepInhibitor::~SleepInhibitor() {
    wanted_ = false;
    if (service_ != Service::none) {
        // The process may end right after this: the release must have reached the bus.
        sendRelease(true);
    }
}

void SleepInhibitor::hold() {
    wanted_ = true;
    if (asking_ || service_ != Service::none) {
        return;
    }
    if (!QDBusConnection::sessionBus().isConnected()) {
        unavailable(QStringLiteral("no session bus"));
        return;
    }
    ask(Service::screenSaver);
}

void SleepInhibitor::release() {
    wanted_ = false;
    if (service_ != Service::none) {
        sendRelease(false);
    }
}

void SleepInhibitor::ask(Service service) {
    QDBusMessage message;
    if (service == Service::screenSaver) {
        message = QDBusMessage::createMethodCall(
            QString::fromLatin1(kScreenSaverService), QString::fromLatin1(kScreenSaverPath),
            QString::fromLatin1(kScreenSaverService), QStringLiteral("Inhibit"));
        message << QString::fromLatin1(kApplicationName) << reason_;
    } else {
        message = QDBusMessage::createMethodCall(
            QString::fromLatin1(kSessionManagerService), QString::fromLatin1(kSessionManagerPath),
            QString::fromLatin1(kSessionManagerService), QStringLiteral("Inhibit"));
        message << QString::fromLatin1(kApplicationName) << std::uint32_t{0} << reason_
                << kSessionManagerFlags;
    }
    asking_ = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, service](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                asking_ = false;
                const QDBusPendingReply<std::uint32_t> reply = *call;
                if (!reply.isError()) {
                    granted(service, reply.value());
                    return;
                }
                if (service == Service::screenSaver) {
                    ask(Service::sessionManager);
                    return;
                }
                unavailable(reply.error().message());
            });
}

void SleepInhibitor::granted(Service service, std::uint32_t cookie) {
    service_ = service;
    cookie_ = cookie;
    logInfo(lcSession(),
            std::string("☕️ Sleep held off while recording (") +
                (service == Service::screenSaver ? kScreenSaverService : kSessionManagerService) + ")");
    emit heldChanged();
    if (!wanted_) {
        sendRelease(false); // released while the answer was on its way
    }
}

void SleepInhibitor::unavailable(const QString& why) {
    if (!wanted_ || reportedUnavailable_) {
        return;
    }
    reportedUnavailable_ = true;
    logInfo(lcSession(),
            "ℹ️ Sleep cannot be held off while recording: no screen saver or session manager service "
            "answers (" +
                why.toStdString() + ")");
}

void SleepInhibitor::sendRelease(bool waitForAnswer) {
    const bool screenSaver = service_ == Service::screenSaver;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(screenSaver ? kScreenSaverService : kSessionManagerService),
        QString::fromLatin1(screenSaver ? kScreenSaverPath : kSessionManagerPath),
        QString::fromLatin1(screenSaver ? kScreenSaverService : kSessionManagerService),
        screenSaver ? QStringLiteral("UnInhibit") : QStringLiteral("Uninhibit"));
    message << cookie_;
    service_ = Service::none;
    cookie_ = 0;
    if (waitForAnswer) {
        (void)QDBusConnection::sessionBus().call(message, QDBus::Block, kReleaseTimeoutMs);
    } else {
        (void)QDBusConnection::sessionBus().asyncCall(message);
    }
    logInfo(lcSession(), "☕️ Sleep no longer held off");
    emit heldChanged();
}

} // namespace veltrane
