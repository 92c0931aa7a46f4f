#include "upload/UploadManager.h"

#include "platform/core/UUID.h"
#include "platform/dispatch/MainThread.h"
#include "server/ServerErrors.h"
#include "storage/AtomicFileWriter.h"
#include "upload/MultipartBodyWriter.h"
#include "upload/UploadJob.h"
#include "upload/UploadTiming.h"

#include "platform/core/Log.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInformation>
#include <QStandardPaths>
#include <QUtf8StringView>

#include <nlohmann/json.hpp>

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
                                        const std::expected<void, PlatformError>& outcome,
                                        const std::optional<TransferResponse>& response) {
    std::optional<QByteArray> bytes;
    if (const auto found = responseData_.find(task.identifier); found != responseData_.end()) {
        bytes = std::move(found->second);
        responseData_.erase(found);
    }
    postGuarded(manager_, [task, outcome, response, bytes = std::move(bytes)](UploadManager* manager) {
        manager->handleCompletion(task.description, task.identifier, outcome, response, bytes);
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

constexpr auto kSaveRetryInterval = std::chrono::seconds(3);
constexpr qsizetype kMaxBodyBytesRead = 64 * 1024;

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string truncatedUtf8(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    text.resize(cut);
    return text + "\u2026";
}

// The first line of an error body a person can read: a JSON error's "detail", "message" or
// "error" text, else the first non-empty line of plain text; nothing for markup or binary data.
std::optional<std::string> firstReadableLine(const std::optional<QByteArray>& bytes) {
    if (!bytes || bytes->isEmpty()) {
        return std::nullopt;
    }
    const QByteArray head = bytes->left(kMaxBodyBytesRead);
    const QJsonDocument json = QJsonDocument::fromJson(*bytes);
    if (json.isObject()) {
        for (const char* key : {"detail", "message", "error"}) {
            if (const QJsonValue value = json.object().value(QLatin1String(key)); value.isString()) {
                return truncatedUtf8(value.toString().simplified().toStdString(),
                                     UploadManager::kMaxErrorPartLength);
            }
        }
    }
    QByteArray text = head;
    // The cut after the first bytes may fall inside a character: drop its pieces.
    for (int piece = 0; piece < 3 && text.size() < bytes->size() && !QUtf8StringView(text).isValidUtf8();
         ++piece) {
        text.chop(1);
    }
    if (!QUtf8StringView(text).isValidUtf8()) {
        return std::nullopt;
    }
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).simplified();
        if (line.isEmpty()) {
            continue;
        }
        if (line.startsWith('<') || line.startsWith('{') || line.startsWith('[')) {
            return std::nullopt; // markup or structured data: no sentence for a person
        }
        return truncatedUtf8(line.toStdString(), UploadManager::kMaxErrorPartLength);
    }
    return std::nullopt;
}

// What a server's error answer means, in one line: "Server answered 413 Payload Too Large",
// with the body's first readable line, or where a redirect pointed.
std::string describeAnswer(const TransferResponse& response, const std::optional<QByteArray>& bytes) {
    constexpr std::size_t limit = UploadManager::kMaxErrorPartLength;
    std::string status = std::to_string(response.statusCode);
    if (const QString reason = QString::fromUtf8(response.reasonPhrase).simplified(); !reason.isEmpty()) {
        status += " " + truncatedUtf8(reason.toStdString(), limit);
    }
    const auto answered = [&status](int form, const std::string& detail = {}) {
        return filledMessage(UploadManager::kServerAnsweredMessages[form],
                             {QString::fromStdString(status), QString::fromStdString(detail)})
            .toStdString();
    };
    if (response.statusCode >= 300 && response.statusCode <= 399) {
        for (const auto& [name, value] : response.headers) {
            if (name.compare("location", Qt::CaseInsensitive) == 0) {
                return answered(3, truncatedUtf8(value.toStdString(), limit));
            }
        }
        return answered(2);
    }
    if (const auto line = firstReadableLine(bytes)) {
        return answered(1, *line);
    }
    return answered(0);
}

double maxProbeSecondsFromEnvironment() {
    bool ok = false;
    const double seconds = qEnvironmentVariable(UploadManager::kMaxProbeEnvironmentVariable).toDouble(&ok);
    return ok && seconds >= 0.1 ? std::min(seconds, UploadManager::kMaxProbeSeconds)
                                : UploadManager::kMaxProbeSeconds;
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
      bodyDir_(applicationDataDirectory_ / kBodyDirectoryName),
      maxProbeSeconds_(maxProbeSecondsFromEnvironment()), self_(this),
      delegate_(std::make_shared<UploadSessionDelegate>(this)) {
    // Meeting names and whole recordings pass through here: the folders are the user's alone.
    for (const fs::path& folder : {applicationDataDirectory_, bodyDir_}) {
        if (!createPrivateDirectories(folder)) {
            // Folders made by earlier versions were readable by everyone.
            std::error_code ignored;
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
        }
    }
    saveRetry_.setInterval(kSaveRetryInterval);
    connect(&saveRetry_, &QTimer::timeout, this, [this] { saveQueue(); });
    loadQueue();
    watchNetwork();
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

bool UploadManager::isIdle() const {
    const bool uploading = std::any_of(
        jobs_.begin(), jobs_.end(), [](const UploadJob& job) { return job.state == UploadState::uploading; });
    return !uploading && refreshesRunning_ == 0 && (!retryTimer_->isArmed() || unreachableSince_);
}

QString UploadManager::problemText() const {
    if (saveError_) {
        return filledMessage(kQueueUnsavedMessage, {QString::fromStdString(*saveError_)});
    }
    return loadWarning_ ? QString::fromStdString(*loadWarning_) : QString();
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
    UploadQueueFile::LoadResult loaded = queueFile_.load();
    if (!loaded) {
        // Never overwritten while it cannot be read: the first save would destroy its jobs.
        loadWarning_ = "⚠️ Upload queue file could not be read (" + loaded.error() + ")";
        queueFileUnreadable_ = true;
        setSaveError(
            filledMessage(kQueueUnreadableMessage, {QString::fromStdString(loaded.error())}).toStdString());
        logWarning(lcUpload(), *loadWarning_);
        return;
    }
    if (!*loaded) {
        return;
    }
    if (const auto warning = UploadQueueFile::damageText(**loaded)) {
        const auto aside = queueFile_.setAside();
        loadWarning_ = filledMessage(aside ? kOriginalKeptMessage : kOriginalNotKeptMessage,
                                     {QString::fromStdString(*warning),
                                      QString::fromStdString(aside ? aside->string() : aside.error())})
                           .toStdString();
        logWarning(lcUpload(), *loadWarning_);
    }
    jobs_ = orderLoadedJobs(std::move((*loaded)->jobs));
    for (UploadJob& job : jobs_) {
        // This process tries again at once: a new run may have a network or a new session. A
        // server that was unreachable is probed first, and the wait keeps counting from its start.
        if (job.waitingFor == UploadWait::signIn) {
            job.waitingFor.reset();
        } else if (job.waitingFor == UploadWait::server && job.state == UploadState::pending) {
            job.nextEarliestAttempt.reset();
            if (job.waitingSince && (!unreachableSince_ || *job.waitingSince < *unreachableSince_)) {
                unreachableSince_ = job.waitingSince;
                nextProbe_ = clock_->now();
            }
        }
    }
    if (loadWarning_) {
        saveQueue(); // only once the original is kept aside
    }
    publishChanges();
}

void UploadManager::saveQueue() {
    if (queueFileUnreadable_) {
        return;
    }
    auto saved = queueFile_.save(jobs_);
    setSaveError(saved ? std::nullopt : std::optional<std::string>(saved.error()));
}

void UploadManager::setSaveError(std::optional<std::string> error) {
    if (error == saveError_) {
        return;
    }
    if (error) {
        logCritical(lcUpload(), "❌ Could not save the upload queue: " + *error +
                                    "; the jobs are kept in memory and saved as soon as writing works again");
        saveRetry_.start();
    } else {
        logInfo(lcUpload(), "✅ Upload queue saved again");
        saveRetry_.stop();
    }
    saveError_ = std::move(error);
    emit problemChanged();
}

void UploadManager::enqueue(const std::string& filename, const ChunkFiling& filing,
                            std::optional<double> duration, std::optional<fs::path> folder) {
    if (std::any_of(jobs_.begin(), jobs_.end(),
                    [&](const UploadJob& job) { return job.filename == filename; })) {
        return;
    }
    UploadJob job = UploadJob::makeNew(filename, filing.projectId, filing.projectName, filing.meetingId,
                                       filing.meetingName, duration, clock_->now());
    if (!folder) {
        folder = chunkDirectory_();
    }
    if (folder) {
        std::error_code ignored;
        job.folder = fs::absolute(*folder, ignored).lexically_normal().string();
    }
    if (unreachableSince_) {
        job.waitingFor = UploadWait::server;
        job.waitingSince = unreachableSince_;
        job.nextEarliestAttempt = nextProbe_;
    } else if (pausedForSignIn_) {
        job.waitingFor = UploadWait::signIn;
    }
    jobs_.push_back(std::move(job));
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
    // While the server is unreachable one job at a time probes it; paused, nothing goes.
    const int limit = pausedForSignIn_ ? 0 : unreachableSince_ ? 1 : kMaxActiveUploads;
    for (std::size_t position = 0; position < jobs_.size(); ++position) {
        if (active >= limit) {
            break;
        }
        if (isEligible(jobs_[position], now) && startUpload(position)) {
            ++active;
            started = true;
            if (unreachableSince_) {
                probeJobID_ = jobs_[position].id;
            }
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
    const std::optional<fs::path> directory = job.folder ? std::optional<fs::path>() : chunkDirectory_();
    if (!job.folder && !directory) {
        return false;
    }
    const fs::path chunkFile = (job.folder ? fs::path(*job.folder) : *directory) / job.filename;
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
    const std::optional<std::string> token = tokenProvider_();
    if (token) {
        request.headers.emplace_back("Authorization", QByteArray::fromStdString("Bearer " + *token));
    }
    const fs::path bodyFile = bodyFilePath(job.id);
    const MultipartBodyWriter::Result body = MultipartBodyWriter::write(boundary, job, chunkFile, bodyFile);
    if (!body && body.error().kind == MultipartBodyWriter::Failure::Kind::chunkUnreadable) {
        return false;
    }
    if (!body) {
        // A full disk or an unusable body folder: counted as a failed attempt, so the job backs
        // off and the user sees why, instead of being retried silently at every pass.
        recordFailure(position, std::nullopt,
                      filledMessage(kBodyUnwritableMessage, {QString::fromStdString(body.error().reason)})
                          .toStdString());
        if (jobs_[position].state == UploadState::failed) {
            saveQueue();
            emit jobFinished(jobs_[position]);
        }
        return false;
    }

    const std::shared_ptr<TransferTask> task = session().createUploadTask(std::move(request), bodyFile);
    task->setDescription(job.id);
    UploadJob& stored = jobs_[position];
    stored.state = UploadState::uploading;
    stored.progress = 0.0;
    stored.taskIdentifier = task->identifier();
    tasksStartedHere_[job.id] = task->identifier();
    sentTokens_[job.id] = token;
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
                                     const std::expected<void, PlatformError>& outcome,
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
    const bool wasProbe = probeJobID_ == job.id;
    if (wasProbe) {
        probeJobID_.reset();
    }
    const std::optional<int> status = response ? std::optional<int>(response->statusCode) : std::nullopt;
    const ReferenceDate now = clock_->now();
    const PlatformError* error = outcome ? nullptr : &outcome.error();
    const bool noAnswer = error && !response && error->domain == TransferError::kDomain &&
                          error->code == TransferError::kNoAnswer;
    if (response) {
        serverAnswered();
    }
    if (noAnswer &&
        !(unreachableSince_ && now.secondsSince(*unreachableSince_) >= kUnreachableLimitSeconds)) {
        if (wasProbe) {
            probeIntervalSeconds_ = std::min(probeIntervalSeconds_ * 2.0, maxProbeSeconds_);
        }
        waitForServer(*position, error->localizedDescription);
    } else if (error) {
        std::string message = truncatedUtf8(error->localizedDescription, kMaxErrorPartLength);
        if (noAnswer) {
            message = filledMessage(kNoAnswerForADayMessage, {QString::fromStdString(message)}).toStdString();
        }
        // A failure to reach the server reads as on every other screen, naming the server.
        if (const auto baseURL = apiBaseURL_();
            baseURL && (noAnswer || error->domain != TransferError::kDomain)) {
            message = unreachableServerText(baseURL->authority().toStdString(), message);
        }
        recordFailure(*position, status, std::move(message));
    } else if (response && response->statusCode >= 200 && response->statusCode <= 299) {
        job.state = UploadState::completed;
        job.progress = 1.0;
        job.waitingFor.reset();
        job.waitingSince.reset();
    } else if (response && response->statusCode == 401) {
        jobs_[*position].lastError = describeAnswer(*response, bytes);
        handleUnauthorized(*position);
    } else {
        recordFailure(*position, status,
                      response ? std::optional<std::string>(describeAnswer(*response, bytes)) : std::nullopt);
    }
    sentTokens_.erase(jobs_[*position].id);
    publishChanges();
    saveQueue();
    const UploadJob finished = jobs_[*position];
    if (finished.state == UploadState::completed || finished.state == UploadState::failed) {
        emit jobFinished(finished);
    }
    processQueue();
}

void UploadManager::waitForServer(std::size_t position, const std::string& reason) {
    const ReferenceDate now = clock_->now();
    if (!unreachableSince_) {
        unreachableSince_ = now;
        probeIntervalSeconds_ = std::min(kFirstProbeSeconds, maxProbeSeconds_);
        logInfo(lcUpload(), "ℹ️ The server cannot be reached (" + reason +
                                "); uploads wait and are sent as soon as it answers");
    }
    nextProbe_ = now.addingSeconds(probeIntervalSeconds_);
    UploadJob& job = jobs_[position];
    job.state = UploadState::pending;
    job.progress = 0.0;
    for (UploadJob& waiting : jobs_) {
        if (waiting.state == UploadState::pending && waiting.attempts < kMaxAttempts) {
            waiting.waitingFor = UploadWait::server;
            waiting.waitingSince = unreachableSince_;
            waiting.nextEarliestAttempt = nextProbe_;
        }
    }
}

void UploadManager::serverAnswered() {
    if (!unreachableSince_) {
        return;
    }
    unreachableSince_.reset();
    probeIntervalSeconds_ = kFirstProbeSeconds;
    for (UploadJob& job : jobs_) {
        if (job.waitingFor == UploadWait::server) {
            job.waitingFor.reset();
            job.waitingSince.reset();
            job.nextEarliestAttempt.reset();
        }
    }
    logInfo(lcUpload(), "✅ The server answers again; sending the waiting uploads");
}

void UploadManager::networkCameBack() {
    if (!unreachableSince_ || probeJobID_) {
        return;
    }
    nextProbe_ = clock_->now();
    for (UploadJob& job : jobs_) {
        if (job.waitingFor == UploadWait::server) {
            job.nextEarliestAttempt = nextProbe_;
        }
    }
    processQueue();
}

void UploadManager::watchNetwork() {
    // Where the system reports its connectivity, a network that comes back is probed at once;
    // elsewhere the probe schedule alone notices.
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        return;
    }
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability reachability) {
                if (reachability == QNetworkInformation::Reachability::Online ||
                    reachability == QNetworkInformation::Reachability::Site ||
                    reachability == QNetworkInformation::Reachability::Local) {
                    networkCameBack();
                }
            });
}

void UploadManager::handleUnauthorized(std::size_t position) {
    UploadJob& job = jobs_[position];
    job.state = UploadState::pending;
    job.progress = 0.0;
    const auto sent = sentTokens_.find(job.id);
    const std::optional<std::string> sentToken = sent != sentTokens_.end() ? sent->second : std::nullopt;
    if (pausedForSignIn_ || !sentToken || (repairedToken_ && repairedToken_ == sentToken)) {
        pauseForSignIn();
        return;
    }
    job.nextEarliestAttempt = clock_->now().addingSeconds(kAuthRetryDelaySeconds);
    if (refreshesRunning_ == 0) {
        ++refreshesRunning_;
        postGuarded(self_, [](UploadManager* manager) { manager->runTokenRefresh(); });
    }
}

void UploadManager::pauseForSignIn() {
    if (!pausedForSignIn_) {
        logWarning(lcUpload(),
                   "⚠️ The server no longer accepts the session: uploads wait until you sign in again");
    }
    pausedForSignIn_ = true;
    for (UploadJob& job : jobs_) {
        if (job.state == UploadState::pending) {
            job.waitingFor = UploadWait::signIn;
            job.nextEarliestAttempt.reset();
        }
    }
}

void UploadManager::resumeAfterSignIn() {
    if (!pausedForSignIn_) {
        return;
    }
    pausedForSignIn_ = false;
    repairedToken_.reset();
    for (UploadJob& job : jobs_) {
        if (job.waitingFor == UploadWait::signIn) {
            job.waitingFor.reset();
        }
    }
    publishChanges();
    saveQueue();
    processQueue();
}

void UploadManager::recordFailure(std::size_t position, std::optional<int> status,
                                  std::optional<std::string> message) {
    UploadJob& job = jobs_[position];
    job.attempts += 1;
    job.lastError =
        message ? std::move(*message) : std::string(QT_TRANSLATE_NOOP("veltrane::Messages", "Upload failed"));
    if (job.attempts > (UploadManager::kMaxAttempts - 1)) {
        job.state = UploadState::failed;
        return;
    }
    job.state = UploadState::pending;
    const ReferenceDate now = clock_->now();
    (void)status; // a 401 never gets here: it pauses or refreshes, without using up an attempt
    const double backoffSeconds =
        std::min(std::pow(2.0, static_cast<double>(job.attempts)), kMaxBackoffSeconds);
    job.nextEarliestAttempt = now.addingSeconds(backoffSeconds);
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
            // A refresh that leaves no token cannot be repaired without the user; one that
            // leaves a token is tried once more.
            self->repairedToken_ = self->tokenProvider_();
            if (!self->repairedToken_) {
                self->pauseForSignIn();
                self->publishChanges();
            }
            self->processQueue();
        }
    }(self_, tokenRefresher_);
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
