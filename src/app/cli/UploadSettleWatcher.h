#pragma once

#include <QObject>

namespace veltrane {

class UploadManager;

// Reconnects the upload manager to its transfer session and tells when the queue has settled:
// no upload running, no retry armed, no token refresh under way. Every check runs after the
// manager's current step has finished, so a change in the middle of a queue pass is never
// taken for the end. Main thread only.
class UploadSettleWatcher : public QObject {
    Q_OBJECT
public:
    // `uploads` must outlive the watcher.
    explicit UploadSettleWatcher(UploadManager& uploads, QObject* parent = nullptr);

    // Reconnects the session; the launch reconciliation and its queue pass follow.
    void reconnect();
    // From now on, emits settled() once, as soon as the reconciliation has run and the manager
    // is settled.
    void watch();
    [[nodiscard]] bool isWatching() const { return watching_; }

signals:
    void settled();

private:
    void scheduleCheck();
    void check();

    UploadManager& uploads_;
    bool reconnecting_ = false;
    bool reconciled_ = false;
    bool watching_ = false;
    bool checkScheduled_ = false;
    bool reported_ = false;
};

} // namespace veltrane
