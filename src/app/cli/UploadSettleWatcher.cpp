#include "app/cli/UploadSettleWatcher.h"

#include "upload/UploadManager.h"

#include <QTimer>

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

void UploadSettleWatcher::watch() {
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
    if (reported_ || !watching_ || !reconciled_ || !uploads_.isSettled()) {
        return;
    }
    reported_ = true;
    emit settled();
}

} // namespace veltrane
