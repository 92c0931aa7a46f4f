#pragma once

#include "upload/UploadJob.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

class UploadManager;

// The options of `veltrane-cli upload`, parsed and checked.
struct UploadOptions {
    // Wait until every job is completed or failed; the exit code tells whether all completed.
    bool wait = false;
    // The folder holding the chunk files; absent: the remembered recording folder.
    std::optional<std::filesystem::path> directory;

    // `arguments` excludes the program and command names. The error is a one-line message.
    [[nodiscard]] static std::expected<UploadOptions, QString> parse(const QStringList& arguments);

    [[nodiscard]] static QString usage();
};

// The command line's text views of the upload queue.
class UploadQueueReport {
public:
    // state, attempts, file name, context label, last error, and why it waits when it does;
    // tab-separated, no line break.
    [[nodiscard]] static std::string line(const UploadJob& job);
    // "Uploads: C completed, P pending, F failed" (uploading jobs count as pending).
    [[nodiscard]] static std::string summary(const std::vector<UploadJob>& jobs);
    [[nodiscard]] static bool allCompleted(const std::vector<UploadJob>& jobs);
    // Tells on standard error, in the user's language, why the queue file could not be saved;
    // returns whether it could not.
    static bool printSaveError(const UploadManager& uploads);
};

class AppEnvironment;
class DesktopNotifications;
class UploadFailureNotifier;
class UploadRunReport;
class UploadSettleWatcher;

// The options of `veltrane-cli enqueue`, parsed and checked.
struct EnqueueOptions {
    std::string projectID;
    std::optional<std::string> meetingID;
    std::vector<std::filesystem::path> files; // absolute

    [[nodiscard]] static std::expected<EnqueueOptions, QString> parse(const QStringList& arguments);
    [[nodiscard]] static QString usage();
    // Absent when `file` is a finished chunk file of this program (its name and its WAV or M4A
    // header); otherwise why it is refused.
    [[nodiscard]] static std::optional<std::string> refusalFor(const std::filesystem::path& file);
};

// `veltrane-cli upload`: reconnects the persisted queue and runs queue passes until it has
// settled, printing a line per delivered or failed job; exits 1 when a job failed in the run.
// Without --wait it ends when only waiting (for the server or a sign-in) is left; with --wait
// it waits through outages of up to kMaxOutageMinutes and reports whether every job completed.
// A longer outage ends the run with the jobs still queued, so that the queue is not held from
// the window for hours by a process that can do nothing. Chunks that failed for good
// during the run are reported through the desktop's notifications as well.
// Main thread only.
class UploadCommand : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxOutageMinutes = 10;

    // `env` must hold the upload queue.
    UploadCommand(UploadOptions options, std::unique_ptr<AppEnvironment> env, QObject* parent = nullptr);
    ~UploadCommand() override;

    void run();
    // SIGINT/SIGTERM: finish now, leaving the rest queued.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    void settled();
    void finish(int exitCode);

    UploadOptions options_;
    std::unique_ptr<AppEnvironment> env_;
    std::unique_ptr<UploadSettleWatcher> watcher_;
    std::unique_ptr<UploadRunReport> report_;
    std::unique_ptr<DesktopNotifications> notifications_;
    std::unique_ptr<UploadFailureNotifier> failureNotifier_;
    QTimer outage_;
    bool finished_ = false;
};

// The upload queue commands of veltrane-cli: uploads, upload, retry-all, enqueue.
[[nodiscard]] bool isUploadCommand(const QString& name);

// Runs one of them. `arguments` starts with the command name. Returns the exit code: 0 success,
// 1 a failure at run time, 2 bad usage.
[[nodiscard]] int runUploadCommand(const QStringList& arguments);

} // namespace veltrane
