#include "upload/UploadManager.h"

#include "platform/core/UUID.h"
#include "platform/dispatch/MainThread.h"
#include "storage/AtomicFileWriter.h"
#include "upload/MultipartBodyWriter.h"
#include "upload/UploadJob.h"
#include "upload/UploadTiming.h"

#include <QStandardPaths>
#include <QUtf8StringView>

#include <algorithm>
#include <cmath>
#include <set>
#include <system_error>

namespace veltrane {

UploadSessionDelegate::UploadSessionDelegate(UploadManager* manager) : manager_(manager) {}

void UploadSessionDelegate::didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) {
    responseData_[task.identifier].append(bytes);
}

void UploadSessionDelegate::didSendBodyData(const TransferTaskInfo& task, std::int64_t totalBytesSent,
                                            std::int64_t totalBytesExpectedToSend) {
    if (totalBytesExpectedToSend < 1) {
        return;
    }
    const double fraction =
        static_cast<double>(totalBytesSent) / static_cast<double>(totalBytesExpectedToSend);
    postGuarded(manager_, [task, fraction](UploadManager* manager) {
        manager->updateProgress(task.description, task.identifier, fraction);
    });
}

void UploadSessionDelegate::didComplete(const TransferTaskInfo& task,
                                        const std::optional<PlatformError>& error,
                                        const std::optional<TransferResponse>& response) {
    std::optional<QByteArray> bytes;
    if (const auto found = responseData_.find(task.identifier); found != responseData_.end()) {
        bytes = std::move(found->second);
        responseData_.erase(found);
    }
    postGuarded(manager_, [task, error, response, bytes = std::move(bytes)](UploadManager* manager) {
        manager->handleCompletion(task.description, task.identifier, error, response, bytes);
    });
}

namespace {

namespace fs = std::filesystem;

constexpr double kAuthRetryDelaySeconds = 2.0;
constexpr double kMaxBackoffSeconds = 300.0;
constexpr double kMinTimerDelaySeconds = 0.1;
constexpr auto kRequestIdleTimeout = std::chrono::seconds(60);

QUrl appendingPathComponent(QUrl url, const QString& component) {
    QString path = url.path();
    while (path.endsWith('/')) {
        path.chop(1);
    }
    url.setPath(path + component);
    return url;
}

bool isEligible(const UploadJob& job, ReferenceDate now) {
    return job.state == UploadState::pending && job.attempts <= (UploadManager::kMaxAttempts - 1) &&
           (!job.nextEarliestAttempt || *job.nextEarliestAttempt <= now);
}

} // namespace

fs::path UploadManager::defaultApplicationDataDirectory() {
    return fs::path(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString());
}

std::unique_ptr<TransferSession>
UploadManager::makeDefaultSession(std::weak_ptr<TransferSessionDelegate> delegate) {
    TransferSessionConfiguration configuration;
    configuration.identifier = kSessionIdentifier;
    configuration.resourceTimeout = std::chrono::hours(24);
    return std::make_unique<TransferSession>(std::move(configuration), std::move(delegate));
}

UploadManager::UploadManager(fs::path applicationDataDirectory, std::shared_ptr<const UploadClock> clock,
                             std::unique_ptr<RetryTimer> retryTimer, SessionFactory sessionFactory,
                             QObject* parent)
    : QObject(parent), clock_(clock ? std::move(clock) : std::make_shared<SystemUploadClock>()),
      retryTimer_(retryTimer ? std::move(retryTimer) : std::make_unique<QtRetryTimer>()),
      sessionFactory_(sessionFactory ? std::move(sessionFactory) : SessionFactory(&makeDefaultSession)),
      applicationDataDirectory_(std::move(applicationDataDirectory)), queueFile_(applicationDataDirectory_),
      bodyDir_(applicationDataDirectory_ / kBodyDirectoryName), self_(this),
      delegate_(std::make_shared<UploadSessionDelegate>(this)) {
    std::error_code ignored;
    fs::create_directories(applicationDataDirectory_, ignored);
    fs::create_directories(bodyDir_, ignored);
    loadQueue();
}

UploadManager::~UploadManager() {
    // Ends the session's thread first, so no callback runs against a half-destroyed manager.
    session_.reset();
}

bool UploadManager::isSettled() const {
    const bool uploading = std::any_of(
        jobs_.begin(), jobs_.end(), [](const UploadJob& job) { return job.state == UploadState::uploading; });
    return !uploading && !retryTimer_->isArmed() && refreshesRunning_ == 0;
}

TransferSession& UploadManager::session() {
    if (!session_) {
        session_ = sessionFactory_(delegate_);
    }
    return *session_;
}

void UploadManager::reconnectSession() {
    session().getAllTasks([self = self_](std::vector<TransferTaskInfo> tasks) {
        postGuarded(self,
                    [tasks = std::move(tasks)](UploadManager* manager) { manager->reconcileTasks(tasks); });
    });
}

void UploadManager::loadQueue() {
    auto fileJobs = queueFile_.load();
    if (!fileJobs) {
        return;
    }
    jobs_ = orderLoadedJobs(std::move(*fileJobs));
    publishChanges();
}

void UploadManager::saveQueue() {
    (void)queueFile_.save(jobs_);
}

void UploadManager::enqueue(const std::string& filename, const std::string& projectId,
                            const std::optional<std::string>& projectName,
                            const std::optional<std::string>& meetingId,
                            const std::optional<std::string>& meetingName, std::optional<double> duration) {
    if (std::any_of(jobs_.begin(), jobs_.end(),
                    [&](const UploadJob& job) { return job.filename == filename; })) {
        return;
    }
    jobs_.push_back(UploadJob::makeNew(filename, projectId, projectName, meetingId, meetingName, duration,
                                       clock_->now()));
    publishChanges();
    saveQueue();
    processQueue();
}

void UploadManager::processQueue() {
    const ReferenceDate now = clock_->now();
    int active = static_cast<int>(std::count_if(jobs_.begin(), jobs_.end(), [](const UploadJob& job) {
        return job.state == UploadState::uploading;
    }));
    bool started = false;
    for (std::size_t position = 0; position < jobs_.size(); ++position) {
        if (active >= kMaxActiveUploads) {
            break;
        }
        if (isEligible(jobs_[position], now) && startUpload(position)) {
            ++active;
            started = true;
        }
    }
    if (started) {
        publishChanges();
    }
    saveQueue();
    scheduleRetry();
    publishChanges();
}

bool UploadManager::startUpload(std::size_t position) {
    const std::optional<QUrl> baseURL = apiBaseURL_();
    if (!baseURL) {
        return false;
    }
    const UploadJob job = jobs_[position];
    const std::optional<fs::path> directory = chunkDirectory_();
    if (!directory) {
        return false;
    }
    const fs::path chunkFile = *directory / job.filename;
    std::error_code error;
    if (!fs::exists(chunkFile, error) || fs::is_directory(chunkFile, error)) {
        return false;
    }

    const std::string boundary = "Boundary-" + makeUUIDString();
    TransferRequest request;
    request.url = appendingPathComponent(*baseURL, "/ingestion/upload");
    request.method = "POST";
    request.idleTimeout = kRequestIdleTimeout;
    request.headers.emplace_back("Content-Type",
                                 QByteArray::fromStdString("multipart/form-data; boundary=" + boundary));
    if (const std::optional<std::string> token = tokenProvider_()) {
        request.headers.emplace_back("Authorization", QByteArray::fromStdString("Bearer " + *token));
    }
    const fs::path bodyFile = bodyFilePath(job.id);
    const MultipartBodyWriter::Result body = MultipartBodyWriter::write(boundary, job, chunkFile, bodyFile);
    if (body.outcome == MultipartBodyWriter::Outcome::chunkUnreadable) {
        return false;
    }
    if (body.outcome == MultipartBodyWriter::Outcome::bodyUnwritable) {
        // A full disk or an unusable body folder: counted as a failed attempt, so the job backs
        // off and the user sees why, instead of being retried silently at every pass.
        recordFailure(position, std::nullopt, "Could not write the upload body: " + body.reason);
        return false;
    }

    const std::shared_ptr<TransferTask> task = session().createUploadTask(std::move(request), bodyFile);
    task->setDescription(job.id);
    UploadJob& stored = jobs_[position];
    stored.state = UploadState::uploading;
    stored.progress = 0.0;
    stored.taskIdentifier = task->identifier();
    tasksStartedHere_[job.id] = task->identifier();
    task->resume();
    return true;
}

void UploadManager::scheduleRetry() {
    const ReferenceDate now = clock_->now();
    std::optional<ReferenceDate> earliest;
    for (const UploadJob& job : jobs_) {
        if (job.state == UploadState::pending && job.attempts <= (UploadManager::kMaxAttempts - 1) &&
            job.nextEarliestAttempt && *job.nextEarliestAttempt > now) {
            if (!earliest || *job.nextEarliestAttempt < *earliest) {
                earliest = job.nextEarliestAttempt;
            }
        }
    }
    retryTimer_->cancel();
    if (!earliest) {
        return;
    }
    const double delaySeconds = std::max(earliest->secondsSince(now), kMinTimerDelaySeconds);
    const auto delay = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(delaySeconds * 1000.0)));
    retryTimer_->arm(delay, [self = self_] {
        if (self) {
            self->processQueue();
        }
    });
}

std::optional<std::size_t> UploadManager::findJob(const std::optional<std::string>& description,
                                                  std::int64_t identifier) const {
    if (description) {
        const auto found = std::find_if(jobs_.begin(), jobs_.end(),
                                        [&](const UploadJob& job) { return job.id == *description; });
        if (found != jobs_.end()) {
            return static_cast<std::size_t>(found - jobs_.begin());
        }
    }
    const auto found = std::find_if(jobs_.begin(), jobs_.end(), [&](const UploadJob& job) {
        return job.taskIdentifier && *job.taskIdentifier == identifier;
    });
    if (found != jobs_.end()) {
        return static_cast<std::size_t>(found - jobs_.begin());
    }
    return std::nullopt;
}

void UploadManager::updateProgress(const std::optional<std::string>& description, std::int64_t identifier,
                                   double fraction) {
    const auto position = findJob(description, identifier);
    if (!position) {
        return;
    }
    jobs_[*position].progress = fraction;
    publishChanges();
}

void UploadManager::handleCompletion(const std::optional<std::string>& description, std::int64_t identifier,
                                     const std::optional<PlatformError>& error,
                                     const std::optional<TransferResponse>& response,
                                     const std::optional<QByteArray>& bytes) {
    const auto position = findJob(description, identifier);
    if (!position) {
        return;
    }
    UploadJob& job = jobs_[*position];
    removeBodyFile(job.id);
    if (const auto started = tasksStartedHere_.find(job.id);
        started != tasksStartedHere_.end() && started->second == identifier) {
        tasksStartedHere_.erase(started);
    }
    job.taskIdentifier.reset();
    const std::optional<int> status = response ? std::optional<int>(response->statusCode) : std::nullopt;
    if (error) {
        recordFailure(*position, status, error->localizedDescription);
    } else if (response && response->statusCode >= 200 && response->statusCode <= 299) {
        job.state = UploadState::completed;
        job.progress = 1.0;
    } else {
        std::optional<std::string> message;
        if (bytes && !bytes->isEmpty() && QUtf8StringView(*bytes).isValidUtf8()) {
            message = bytes->toStdString();
        }
        recordFailure(*position, status, message);
    }
    publishChanges();
    saveQueue();
    processQueue();
}

void UploadManager::recordFailure(std::size_t position, std::optional<int> status,
                                  std::optional<std::string> message) {
    UploadJob& job = jobs_[position];
    job.attempts += 1;
    job.lastError = message ? std::move(*message) : std::string("Upload failed");
    if (job.attempts > (UploadManager::kMaxAttempts - 1)) {
        job.state = UploadState::failed;
        return;
    }
    job.state = UploadState::pending;
    const ReferenceDate now = clock_->now();
    if (status && *status == 401) {
        job.nextEarliestAttempt = now.addingSeconds(kAuthRetryDelaySeconds);
        ++refreshesRunning_;
        postGuarded(self_, [](UploadManager* manager) { manager->runTokenRefresh(); });
    } else {
        const double backoffSeconds =
            std::min(std::pow(2.0, static_cast<double>(job.attempts)), kMaxBackoffSeconds);
        job.nextEarliestAttempt = now.addingSeconds(backoffSeconds);
    }
}

void UploadManager::runTokenRefresh() {
    // A detached coroutine on the main thread; it holds the manager weakly across the wait.
    [](QPointer<UploadManager> self, TokenRefresher refresher) -> QCoro::Task<void> {
        try {
            co_await refresher();
        } catch (const std::exception&) {
            // The refresher's outcome is not inspected: the next attempt asks for the token again.
        }
        if (self) {
            --self->refreshesRunning_;
            self->processQueue();
        }
    }(self_, tokenRefresher_);
}

void UploadManager::resume() {
    postGuarded(self_, [](UploadManager* manager) { manager->processQueue(); });
}

void UploadManager::retry(const std::string& jobID) {
    postGuarded(self_, [jobID](UploadManager* manager) {
        const auto found = std::find_if(manager->jobs_.begin(), manager->jobs_.end(),
                                        [&](const UploadJob& job) { return job.id == jobID; });
        if (found == manager->jobs_.end()) {
            return;
        }
        found->state = UploadState::pending;
        found->nextEarliestAttempt.reset();
        found->lastError.reset();
        found->attempts = 0;
        manager->publishChanges();
        manager->saveQueue();
        manager->processQueue();
    });
}

void UploadManager::retryAll() {
    postGuarded(self_, [](UploadManager* manager) {
        for (UploadJob& job : manager->jobs_) {
            if (job.state == UploadState::failed) {
                job.state = UploadState::pending;
                job.nextEarliestAttempt.reset();
                job.lastError.reset();
                job.attempts = 0;
            }
        }
        manager->publishChanges();
        manager->saveQueue();
        manager->processQueue();
    });
}

void UploadManager::reconcileTasks(const std::vector<TransferTaskInfo>& tasks) {
    std::map<std::string, std::int64_t> taskMap;
    for (const TransferTaskInfo& task : tasks) {
        if (task.description) {
            taskMap[*task.description] = task.identifier;
        }
    }
    postGuarded(self_, [taskMap = std::move(taskMap)](UploadManager* manager) {
        manager->applyReconciliation(taskMap);
    });
}

void UploadManager::applyReconciliation(const std::map<std::string, std::int64_t>& taskMap) {
    for (UploadJob& job : jobs_) {
        if (job.state != UploadState::uploading || isUploadingHere(job)) {
            // A task started by this process is alive whatever the answer says: the list of
            // tasks may have been taken before a queue pass started it.
            continue;
        }
        if (const auto found = taskMap.find(job.id); found != taskMap.end()) {
            job.taskIdentifier = found->second;
        } else {
            job.state = UploadState::pending;
            job.taskIdentifier.reset();
        }
    }
    removeOrphanBodies();
    removeInterruptedQueueSaves();
    publishChanges();
    saveQueue();
    processQueue();
}

void UploadManager::removeBodyFile(const std::string& jobID) {
    std::error_code ignored;
    fs::remove(bodyFilePath(jobID), ignored);
}

void UploadManager::removeOrphanBodies() {
    std::set<std::string> owned;
    for (const UploadJob& job : jobs_) {
        if (job.state == UploadState::uploading) {
            owned.insert(job.id);
        }
    }
    std::error_code error;
    std::vector<fs::path> orphans;
    for (fs::directory_iterator it(bodyDir_, error), end; !error && it != end; it.increment(error)) {
        const fs::path& path = it->path();
        // Temporary files of body writes that were interrupted (the process died) go too.
        const std::string name = path.filename().string();
        const auto writtenTarget = AtomicFileWriter::targetOfTemporary(name);
        if ((path.extension() == ".multipart" && !owned.contains(path.stem().string())) ||
            (writtenTarget && writtenTarget->ends_with(".multipart"))) {
            orphans.push_back(path);
        }
    }
    for (const fs::path& orphan : orphans) {
        std::error_code ignored;
        fs::remove(orphan, ignored);
    }
}

void UploadManager::removeInterruptedQueueSaves() {
    std::error_code error;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(applicationDataDirectory_, error), end; !error && it != end;
         it.increment(error)) {
        if (AtomicFileWriter::targetOfTemporary(it->path().filename().native()) ==
            UploadQueueFile::kFileName) {
            leftovers.push_back(it->path());
        }
    }
    for (const fs::path& leftover : leftovers) {
        std::error_code ignored;
        fs::remove(leftover, ignored);
    }
}

bool UploadManager::isUploadingHere(const UploadJob& job) const {
    const auto started = tasksStartedHere_.find(job.id);
    return started != tasksStartedHere_.end() && job.taskIdentifier == started->second;
}

fs::path UploadManager::bodyFilePath(const std::string& jobID) const {
    return bodyDir_ / (jobID + ".multipart");
}

void UploadManager::publishChanges() {
    emit jobsChanged();
    const bool settled = isSettled();
    if (settled != wasSettled_) {
        wasSettled_ = settled;
        emit settledChanged();
    }
}

} // namespace veltrane
