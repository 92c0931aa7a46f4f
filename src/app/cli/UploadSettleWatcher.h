#pragma once

#include <QObject>

#include <cstddef>
#include <string>

namespace veltrane {

class UploadManager;
struct UploadJob;

// Reconnects the upload manager to its transfer session and tells when the queue has settled:
// no upload running, no retry armed, no token refresh under way. Every check runs after the
// manager's current step has finished, so a change in the middle of a queue pass is never
// taken for the end. Main thread only.
class UploadSettleWatcher : public QObject {
    Q_OBJECT
public:
    // What counts as the end of a run.
    enum class Until {
        settled, // nothing more happens without a new trigger (waits through any outage)
        idle,    // settled, or only waiting for the server to answer or for a sign-in
    };

    // `uploads` must outlive the watcher.
    explicit UploadSettleWatcher(UploadManager& uploads, QObject* parent = nullptr);

    // Reconnects the session; the launch reconciliation and its queue pass follow.
    void reconnect();
    // From now on, emits settled() once, as soon as the reconciliation has run and the manager
    // has reached `until`.
    void watch(Until until = Until::settled);
    [[nodiscard]] bool isWatching() const { return watching_; }

signals:
    void settled();

private:
    void scheduleCheck();
    void check();

    UploadManager& uploads_;
    Until until_ = Until::settled;
    bool reconnecting_ = false;
    bool reconciled_ = false;
    bool watching_ = false;
    bool checkScheduled_ = false;
    bool reported_ = false;
};

// What the command line tells about one run of the upload queue, on standard error: one line
// per job as it is delivered or fails, and, on a terminal, a progress bar that the lines
// scroll past. Counts the failures of this run. Main thread only.
class UploadRunReport : public QObject {
    Q_OBJECT
public:
    // `uploads` must outlive the report.
    explicit UploadRunReport(UploadManager& uploads, QObject* parent = nullptr);

    [[nodiscard]] std::size_t failedInRun() const { return failed_; }
    // The closing lines: the summary, and why jobs still wait or cannot be saved. Returns
    // whether the run left the queue file unwritten.
    bool printEnd();

private:
    void jobFinished(const UploadJob& job);
    void drawProgress();
    void clearProgress();

    UploadManager& uploads_;
    bool terminal_ = false;
    bool barShown_ = false;
    std::size_t failed_ = 0;
};

} // namespace veltrane
