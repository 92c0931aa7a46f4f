#include "app/cli/UploadSettleWatcher.h"

#include "app/Translations.h"
#include "app/cli/CliApplication.h"
#include "app/cli/UploadCommands.h"
#include "upload/UploadManager.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <unistd.h>

namespace veltrane {

UploadSettleWatcher::UploadSettleWatcher(UploadManager& uploads, QObject* parent)
    : QObject(parent), uploads_(uploads) {
    connect(&uploads_, &UploadManager::jobsChanged, this, [this] {
        // The reconciliation's result is the first change published after reconnecting.
        if (reconnecting_) {
            reconnecting_ = false;
            reconciled_ = true;
        }
        scheduleCheck();
    });
    connect(&uploads_, &UploadManager::settledChanged, this, &UploadSettleWatcher::scheduleCheck);
}

void UploadSettleWatcher::reconnect() {
    reconnecting_ = true;
    uploads_.reconnectSession();
}

void UploadSettleWatcher::watch(Until until) {
    until_ = until;
    watching_ = true;
    scheduleCheck();
}

void UploadSettleWatcher::scheduleCheck() {
    if (checkScheduled_ || !watching_) {
        return;
    }
    checkScheduled_ = true;
    QTimer::singleShot(0, this, &UploadSettleWatcher::check);
}

void UploadSettleWatcher::check() {
    checkScheduled_ = false;
    const bool done = until_ == Until::idle ? uploads_.isIdle() : uploads_.isSettled();
    if (reported_ || !watching_ || !reconciled_ || !done) {
        return;
    }
    reported_ = true;
    emit settled();
}

namespace {

constexpr int kBarWidth = 24;

} // namespace

UploadRunReport::UploadRunReport(UploadManager& uploads, QObject* parent)
    : QObject(parent), uploads_(uploads), terminal_(::isatty(STDERR_FILENO) == 1) {
    connect(&uploads_, &UploadManager::jobFinished, this, &UploadRunReport::jobFinished);
    if (terminal_) {
        connect(&uploads_, &UploadManager::jobsChanged, this, &UploadRunReport::drawProgress);
    }
}

void UploadRunReport::jobFinished(const UploadJob& job) {
    clearProgress();
    const std::string context = job.contextLabel().empty() ? "" : " (" + job.contextLabel() + ")";
    if (job.state == UploadState::completed) {
        std::cerr << CliText::tr("✅ Delivered %1")
                         .arg(QString::fromStdString(job.filename + context))
                         .toStdString();
        if (uploads_.queueSaveError()) {
            std::cerr << CliText::tr(", but the queue file could not record it").toStdString();
        }
        std::cerr << std::endl;
    } else {
        ++failed_;
        std::cerr << CliText::tr("❌ %1 failed after %n attempts: %2", nullptr, static_cast<int>(job.attempts))
                         .arg(QString::fromStdString(job.filename + context),
                              job.lastError ? shownMessage(*job.lastError) : CliText::tr("Upload failed"))
                         .toStdString()
                  << std::endl;
    }
}

void UploadRunReport::drawProgress() {
    const auto& jobs = uploads_.jobs();
    std::size_t done = 0;
    double sending = 0.0;
    std::size_t running = 0;
    std::size_t open = 0;
    for (const UploadJob& job : jobs) {
        if (job.state == UploadState::completed) {
            ++done;
        } else if (job.state == UploadState::uploading) {
            sending += std::clamp(job.progress, 0.0, 1.0);
            ++running;
            ++open;
        } else if (job.state == UploadState::pending) {
            ++open;
        }
    }
    if (open == 0) {
        clearProgress();
        return;
    }
    const double total = static_cast<double>(done + open);
    const double fraction = (static_cast<double>(done) + sending) / total;
    const int filled = static_cast<int>(std::lround(fraction * kBarWidth));
    std::cerr << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
              << std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') << "] " << done << "/"
              << done + open << ' '
              << (running > 0 ? CliText::tr("sending") : CliText::tr("waiting")).toStdString() << "\x1b[K"
              << std::flush;
    barShown_ = true;
}

void UploadRunReport::clearProgress() {
    if (barShown_) {
        std::cerr << "\r\x1b[K" << std::flush;
        barShown_ = false;
    }
}

bool UploadRunReport::printEnd() {
    clearProgress();
    const auto& jobs = uploads_.jobs();
    std::cerr << UploadQueueReport::summary(jobs) << std::endl;
    for (const UploadJob& job : jobs) {
        if (const auto waiting = job.waitingText()) {
            std::cerr << "   " << job.filename << ": " << shownMessage(*waiting).toStdString() << std::endl;
        }
    }
    if (uploads_.isPausedForSignIn()) {
        std::cerr
            << CliText::tr("Sign in again (veltrane-cli login), then run veltrane-cli upload").toStdString()
            << std::endl;
    } else if (uploads_.isWaitingForServer()) {
        std::cerr << CliText::tr("The server cannot be reached; the uploads stay queued for the next "
                                 "veltrane-cli upload or the window")
                         .toStdString()
                  << std::endl;
    }
    return UploadQueueReport::printSaveError(uploads_);
}

} // namespace veltrane
