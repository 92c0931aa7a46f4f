#pragma once

#include "platform/core/PlatformError.h"
#include "platform/transfer/TransferSession.h"
#include "platform/transfer/TransferTypes.h"
#include "storage/ChunkRecovery.h"
#include "upload/UploadJob.h"
#include "upload/UploadQueueFile.h"
#include "upload/UploadTiming.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

class UploadManager;

// The upload manager's side of its transfer session. Runs on the session's delegate queue:
// keeps each task's response bytes there and posts progress and completions to the manager
// on the main thread, doing nothing once the manager is gone.
class UploadSessionDelegate final : public TransferSessionDelegate {
public:
    // Construct on the main thread.
    explicit UploadSessionDelegate(UploadManager* manager);

    void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) override;
    void didSendBodyData(const TransferTaskInfo& task, std::int64_t totalBytesSent,
                         std::int64_t totalBytesExpectedToSend) override;
    void didComplete(const TransferTaskInfo& task, const std::expected<void, PlatformError>& outcome,
                     const std::optional<TransferResponse>& response) override;

private:
    QPointer<UploadManager> manager_;
    // Touched only on the delegate queue.
    std::map<std::int64_t, QByteArray> responseData_;
};

class UploadSessionDelegate;

// Delivers every finished chunk file to the server: keeps the persistent job list, sends each
// job as one multipart POST through its transfer session (at most two at a time), tracks
// progress, retries HTTP error answers with back-off (2, 4, 8, 16, 32 s; failed after the
// sixth), asks for a token refresh after a 401 and, at launch, reconciles jobs with the
// session's tasks.
//
// Waiting is not failing: a transfer that got no answer at all (no route, refused, host not
// found, reset) uses up no attempt. The jobs wait while one of them probes the server at a
// growing interval (2 s doubling up to 5 minutes, or at once when the network comes back), and
// all go as soon as the server answers, for up to 24 hours. A 401 that a token refresh cannot
// repair pauses the queue until resumeAfterSignIn().
//
// The in-memory list is what counts: a queue file that cannot be written is retried every few
// seconds and reported through problem() until writing works again.
//
// Lives on the main thread (works in a QCoreApplication without widgets). retry(), retryAll()
// and reconcileTasks() may be called from any thread; everything else from the main thread.
class UploadManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::vector<veltrane::UploadJob> jobs READ jobs NOTIFY jobsChanged)
    Q_PROPERTY(bool settled READ isSettled NOTIFY settledChanged)
    Q_PROPERTY(QString problem READ problemText NOTIFY problemChanged)

public:
    using TokenProvider = std::function<std::optional<std::string>()>;
    using URLProvider = std::function<std::optional<QUrl>()>;
    using DirectoryProvider = std::function<std::optional<std::filesystem::path>()>;
    using TokenRefresher = std::function<QCoro::Task<void>()>;
    using SessionFactory =
        std::function<std::unique_ptr<TransferSession>(std::weak_ptr<TransferSessionDelegate> delegate)>;

    static constexpr const char* kSessionIdentifier = "co.brimfold.VeltraneRecorder.audio-upload";
    static constexpr const char* kBodyDirectoryName = "upload_bodies";
    static constexpr int kMaxActiveUploads = 2;
    static constexpr std::int64_t kMaxAttempts = 6;
    static constexpr double kFirstProbeSeconds = 2.0;
    static constexpr double kMaxProbeSeconds = 300.0;
    // Development and tests: a shorter longest probe interval, in seconds.
    static constexpr const char* kMaxProbeEnvironmentVariable = "VELTRANE_UPLOAD_PROBE_MAX_SECONDS";
    static constexpr double kUnreachableLimitSeconds = 24.0 * 3600.0;
    // Longest part of a failure's text taken from a server or the system (a body line, a redirect
    // target, a transfer error), in bytes; the text around it is never cut.
    static constexpr std::size_t kMaxErrorPartLength = 200;
    // Upload failures and queue problems put together from parts, marked for translation like
    // kUnreachableServerMessage (server/ServerErrors.h).
    static constexpr const char* kNoAnswerForADayMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "no answer for 24 hours: %1");
    static constexpr const char* kBodyUnwritableMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Could not write the upload body: %1");
    static constexpr const char* kQueueUnsavedMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Could not save the upload queue (%1); retrying");
    static constexpr const char* kQueueUnreadableMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "the queue file could not be read: %1");
    static constexpr const char* kOriginalKeptMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "%1; the original is kept as %2");
    static constexpr const char* kOriginalNotKeptMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "%1; the original could not be copied aside (%2)");
    // A server's error answer: "413 Payload Too Large", then its first readable line or where a
    // redirect pointed.
    static constexpr const char* kServerAnsweredMessages[] = {
        QT_TRANSLATE_NOOP("veltrane::Messages", "Server answered %1"),
        QT_TRANSLATE_NOOP("veltrane::Messages", "Server answered %1: %2"),
        QT_TRANSLATE_NOOP("veltrane::Messages", "Server answered %1; redirects are not followed"),
        QT_TRANSLATE_NOOP("veltrane::Messages",
                          "Server answered %1, pointing to %2; redirects are not followed")};

    // The per-user application data folder (QStandardPaths::AppDataLocation); needs the
    // application's name to be set first.
    [[nodiscard]] static std::filesystem::path defaultApplicationDataDirectory();
    // The application's session: identifier above, 24-hour resource time limit.
    [[nodiscard]] static std::unique_ptr<TransferSession>
    makeDefaultSession(std::weak_ptr<TransferSessionDelegate> delegate);

    // Creates the folder and its "upload_bodies" folder (failures ignored) and loads the queue
    // file. Starts no transfer and creates no session. Null clock / timer / factory mean the
    // system clock, a QTimer and makeDefaultSession.
    explicit UploadManager(std::filesystem::path applicationDataDirectory,
                           std::shared_ptr<const UploadClock> clock = nullptr,
                           std::unique_ptr<RetryTimer> retryTimer = nullptr,
                           SessionFactory sessionFactory = nullptr, QObject* parent = nullptr);
    ~UploadManager() override;

    // Providers, bound after construction. Defaults: absent / absent / absent / do nothing.
    void setTokenProvider(TokenProvider provider) { tokenProvider_ = std::move(provider); }
    void setAPIBaseURLProvider(URLProvider provider) { apiBaseURL_ = std::move(provider); }
    void setChunkDirectoryProvider(DirectoryProvider provider) { chunkDirectory_ = std::move(provider); }
    void setTokenRefresher(TokenRefresher refresher) { tokenRefresher_ = std::move(refresher); }

    [[nodiscard]] const std::vector<UploadJob>& jobs() const { return jobs_; }
    [[nodiscard]] const std::filesystem::path& queueFilePath() const { return queueFile_.path(); }
    [[nodiscard]] const std::filesystem::path& bodyDirectory() const { return bodyDir_; }

    // True when nothing will happen without a new trigger: no job uploading, no retry timer
    // armed and no token refresh running. Jobs may still be pending (for example when no base
    // URL is known or a chunk file is missing) or failed.
    [[nodiscard]] bool isSettled() const;

    // Adds a job for a finished chunk file (ignored when a job has the same file name). The job
    // remembers `folder`, or else the current chunk folder, as where its file is.
    void enqueue(const std::string& filename, const ChunkFiling& filing, std::optional<double> duration,
                 std::optional<std::filesystem::path> folder = std::nullopt);
    void retry(const std::string& jobID);
    void retryAll();
    // Launch reconciliation with the session's surviving tasks.
    void reconcileTasks(const std::vector<TransferTaskInfo>& tasks);
    // Creates the session on first use.
    [[nodiscard]] TransferSession& session();
    // Start-up convenience: creates the session, asks it for all tasks and reconciles.
    void reconnectSession();
    // The user signed in again: jobs paused by an unrepairable 401 go again.
    void resumeAfterSignIn();

    // Why the last queue-file save failed (the cause named); absent once a save worked.
    [[nodiscard]] const std::optional<std::string>& queueSaveError() const { return saveError_; }
    // The warning about a damaged queue file salvaged at load, if there was one.
    [[nodiscard]] const std::optional<std::string>& loadWarning() const { return loadWarning_; }
    // The line the upload panel shows about the queue itself: the save failure, else the
    // salvage warning; empty when all is well.
    [[nodiscard]] QString problemText() const;
    [[nodiscard]] bool isWaitingForServer() const { return unreachableSince_.has_value(); }
    [[nodiscard]] bool isPausedForSignIn() const { return pausedForSignIn_; }
    // Nothing is being sent or refreshed, and what is still armed only waits for the server
    // or for a sign-in: a run that does not wait for connectivity may end here.
    [[nodiscard]] bool isIdle() const;
    // Shortens the longest interval between probes of an unreachable server (tests).
    void setMaxProbeInterval(double seconds) { maxProbeSeconds_ = seconds; }

    // Steps called from the session's delegate, on the main thread.
    void updateProgress(const std::optional<std::string>& description, std::int64_t identifier,
                        double fraction);
    void handleCompletion(const std::optional<std::string>& description, std::int64_t identifier,
                          const std::expected<void, PlatformError>& outcome,
                          const std::optional<TransferResponse>& response,
                          const std::optional<QByteArray>& bytes);

signals:
    void jobsChanged();
    void settledChanged();
    void problemChanged();
    // A job was delivered or used up its attempts; emitted after the queue file was written
    // (queueSaveError() tells whether that worked).
    void jobFinished(const veltrane::UploadJob& job);

private:
    void loadQueue();
    void saveQueue();
    void processQueue();
    [[nodiscard]] bool startUpload(std::size_t position);
    void scheduleRetry();
    void recordFailure(std::size_t position, std::optional<int> status, std::optional<std::string> message);
    void removeBodyFile(const std::string& jobID);
    // Removes the body files no uploading job owns, and temporaries of interrupted body writes.
    void removeOrphanBodies();
    // Removes temporaries of queue-file saves that were interrupted.
    void removeInterruptedQueueSaves();
    // Whether the job is being sent by a task this manager started (in this process).
    [[nodiscard]] bool isUploadingHere(const UploadJob& job) const;
    void applyReconciliation(const std::map<std::string, std::int64_t>& taskMap);
    void runTokenRefresh();
    void waitForServer(std::size_t position, const std::string& reason);
    void serverAnswered();
    void pauseForSignIn();
    void handleUnauthorized(std::size_t position);
    void watchNetwork();
    void networkCameBack();
    void setSaveError(std::optional<std::string> error);
    [[nodiscard]] std::optional<std::size_t> findJob(const std::optional<std::string>& description,
                                                     std::int64_t identifier) const;
    [[nodiscard]] std::filesystem::path bodyFilePath(const std::string& jobID) const;
    void publishChanges();

    std::vector<UploadJob> jobs_;
    TokenProvider tokenProvider_ = [] { return std::optional<std::string>(); };
    URLProvider apiBaseURL_ = [] { return std::optional<QUrl>(); };
    DirectoryProvider chunkDirectory_ = [] { return std::optional<std::filesystem::path>(); };
    TokenRefresher tokenRefresher_ = []() -> QCoro::Task<void> { co_return; };
    std::shared_ptr<const UploadClock> clock_;
    std::unique_ptr<RetryTimer> retryTimer_;
    SessionFactory sessionFactory_;
    std::filesystem::path applicationDataDirectory_;
    UploadQueueFile queueFile_;
    std::filesystem::path bodyDir_;
    // Job id to the identifier of the task this manager started for it, until it completes.
    std::map<std::string, std::int64_t> tasksStartedHere_;
    int refreshesRunning_ = 0;
    std::optional<std::string> saveError_;
    std::optional<std::string> loadWarning_;
    bool queueFileUnreadable_ = false; // then it is never overwritten
    QTimer saveRetry_;
    // Since when no transfer got an answer; the probe schedule while that lasts.
    std::optional<ReferenceDate> unreachableSince_;
    double probeIntervalSeconds_ = kFirstProbeSeconds;
    double maxProbeSeconds_ = kMaxProbeSeconds;
    ReferenceDate nextProbe_;
    std::optional<std::string> probeJobID_;
    bool pausedForSignIn_ = false;
    // The token a refresh left in place; a 401 for it again cannot be repaired here.
    std::optional<std::string> repairedToken_;
    // The token each running upload was sent with.
    std::map<std::string, std::optional<std::string>> sentTokens_;
    bool wasSettled_ = true;
    QPointer<UploadManager> self_;
    std::shared_ptr<UploadSessionDelegate> delegate_;
    std::unique_ptr<TransferSession> session_; // declared last: destroyed first
};

} // namespace veltrane
