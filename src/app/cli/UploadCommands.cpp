#include "app/cli/UploadCommands.h"

#include "app/AppEnvironment.h"
#include "app/SignalWatcher.h"
#include "app/Translations.h"
#include "app/UploadFailureNotifier.h"
#include "app/cli/CliApplication.h"
#include "app/cli/UploadSettleWatcher.h"
#include "platform/desktop/DesktopNotifications.h"
#include "upload/UploadJob.h"
#include "upload/UploadManager.h"

#include "upload/UploadQueueFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <iostream>

namespace veltrane {

QString UploadOptions::usage() {
    return QStringLiteral("usage: veltrane-cli upload [--wait] [--dir DIR]");
}

std::expected<UploadOptions, QString> UploadOptions::parse(const QStringList& arguments) {
    UploadOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (name == QStringLiteral("--wait")) {
            options.wait = true;
        } else if (name == QStringLiteral("--dir")) {
            if (i + 1 >= arguments.size()) {
                return std::unexpected(CliText::tr("%1 needs a value").arg(name));
            }
            const QFileInfo folder(arguments[++i]);
            if (!folder.exists() || !folder.isDir()) {
                return std::unexpected(CliText::tr("chunk folder does not exist: %1").arg(folder.filePath()));
            }
            options.directory = std::filesystem::path(folder.absoluteFilePath().toStdString());
        } else if (name.startsWith(QStringLiteral("--"))) {
            return std::unexpected(CliText::tr("unknown option: %1").arg(name));
        } else {
            return std::unexpected(CliText::tr("unexpected argument: %1").arg(name));
        }
    }
    return options;
}

namespace {

// Tabs and line breaks inside a field would break the one-line, tab-separated layout.
std::string oneField(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

} // namespace

std::string UploadQueueReport::line(const UploadJob& job) {
    std::string text(rawValue(job.state));
    text.append("\t").append(std::to_string(job.attempts));
    text.append("\t").append(oneField(job.filename));
    text.append("\t").append(oneField(job.contextLabel()));
    text.append("\t").append(oneField(job.lastError.value_or("")));
    if (const auto waiting = job.waitingText()) {
        text.append("\t").append(oneField(*waiting));
    }
    return text;
}

std::string UploadQueueReport::summary(const std::vector<UploadJob>& jobs) {
    const auto count = [&](UploadState state) {
        return std::count_if(jobs.begin(), jobs.end(),
                             [state](const UploadJob& job) { return job.state == state; });
    };
    return CliText::tr("Uploads: %1 completed, %2 pending, %3 failed")
        .arg(count(UploadState::completed))
        .arg(count(UploadState::pending) + count(UploadState::uploading))
        .arg(count(UploadState::failed))
        .toStdString();
}

bool UploadQueueReport::allCompleted(const std::vector<UploadJob>& jobs) {
    return std::all_of(jobs.begin(), jobs.end(),
                       [](const UploadJob& job) { return job.state == UploadState::completed; });
}

bool UploadQueueReport::printSaveError(const UploadManager& uploads) {
    const auto& error = uploads.queueSaveError();
    if (error) {
        std::cerr << CliText::tr("❌ The upload queue could not be saved: %1")
                         .arg(shownMessage(*error))
                         .toStdString()
                  << std::endl;
    }
    return error.has_value();
}

UploadCommand::UploadCommand(UploadOptions options, std::unique_ptr<AppEnvironment> env, QObject* parent)
    : QObject(parent), options_(std::move(options)), env_(std::move(env)),
      watcher_(std::make_unique<UploadSettleWatcher>(*env_->uploads())),
      report_(std::make_unique<UploadRunReport>(*env_->uploads())),
      notifications_(std::make_unique<DesktopNotifications>()),
      failureNotifier_(std::make_unique<UploadFailureNotifier>(*notifications_)) {
    connect(watcher_.get(), &UploadSettleWatcher::settled, this, &UploadCommand::settled);
    failureNotifier_->watch(env_->uploads());
}

UploadCommand::~UploadCommand() {
    // Both refer to the environment's upload manager.
    failureNotifier_.reset();
    watcher_.reset();
    report_.reset();
}

void UploadCommand::run() {
    watcher_->reconnect();
    watcher_->watch(options_.wait ? UploadSettleWatcher::Until::settled : UploadSettleWatcher::Until::idle);
    // A queue that cannot be saved ends the run as soon as nothing is being sent.
    connect(env_->uploads(), &UploadManager::problemChanged, this, [this] {
        if (env_->uploads()->queueSaveError()) {
            watcher_->watch(UploadSettleWatcher::Until::idle);
        }
    });
    outage_.setSingleShot(true);
    outage_.setInterval(std::chrono::minutes(kMaxOutageMinutes));
    connect(&outage_, &QTimer::timeout, this, [this] {
        std::cerr << CliText::tr(
                         "The server has not answered for %1 minutes; the uploads stay queued for the "
                         "next run")
                         .arg(kMaxOutageMinutes)
                         .toStdString()
                  << std::endl;
        watcher_->watch(UploadSettleWatcher::Until::idle);
    });
    connect(env_->uploads(), &UploadManager::jobsChanged, this, [this] {
        if (!env_->uploads()->isWaitingForServer()) {
            outage_.stop();
        } else if (!outage_.isActive()) {
            outage_.start();
        }
    });
}

void UploadCommand::interrupt() {
    if (!env_->uploads()->queueSaveError()) {
        std::cerr << CliText::tr("Interrupted: the remaining uploads stay queued").toStdString() << std::endl;
    }
    finish(options_.wait ? 1 : 0);
}

void UploadCommand::settled() {
    const std::vector<UploadJob>& jobs = env_->uploads()->jobs();
    const UploadManager& uploads = *env_->uploads();
    // Settled with pending jobs that do not wait for the server or a sign-in: nothing more
    // happens without a new trigger (missing chunk file, no server URL). Waiting would never end.
    const auto stuck = std::count_if(jobs.begin(), jobs.end(), [](const UploadJob& job) {
        return job.state == UploadState::pending && !job.waitingFor;
    });
    if (stuck > 0 && !uploads.isWaitingForServer() && !uploads.isPausedForSignIn()) {
        std::cerr << CliText::tr("%n upload(s) cannot be sent now (chunk file missing or no server URL)",
                                 nullptr, static_cast<int>(stuck))
                         .toStdString()
                  << std::endl;
    }
    const bool incomplete = options_.wait && !UploadQueueReport::allCompleted(jobs);
    finish(report_->failedInRun() > 0 || incomplete ? 1 : 0);
}

void UploadCommand::finish(int exitCode) {
    if (finished_) {
        return;
    }
    finished_ = true;
    failureNotifier_->flush();
    if (report_->printEnd()) {
        exitCode = 1;
    }
    emit finished(exitCode);
}

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

int usageError(const std::string& message) {
    std::cerr << "veltrane-cli: " << message << std::endl;
    return kUsage;
}

// Reads the queue file as it is: a listing never changes a file, damaged or not.
int listUploads() {
    const UploadQueueFile file(UploadManager::defaultApplicationDataDirectory());
    UploadQueueFile::LoadResult loaded = file.load();
    if (!loaded) {
        std::cerr << CliText::tr("❌ The upload queue file could not be read: %1")
                         .arg(QString::fromStdString(loaded.error()))
                         .toStdString()
                  << std::endl;
        return kFailure;
    }
    if (const auto warning = *loaded ? UploadQueueFile::damageText(**loaded) : std::nullopt) {
        std::cerr << CliText::tr("%1; the next upload run keeps the readable jobs")
                         .arg(QString::fromStdString(*warning))
                         .toStdString()
                  << std::endl;
    }
    if (*loaded) {
        for (const UploadJob& job : orderLoadedJobs(std::move((*loaded)->jobs))) {
            std::cout << UploadQueueReport::line(job) << '\n';
        }
    }
    std::cout << std::flush;
    return kSuccess;
}

int retryAll() {
    int exitCode = kFailure;
    const auto env = makeCliEnvironment(UploadQueueClaim::take, exitCode);
    if (!env) {
        return exitCode;
    }
    UploadManager& uploads = *env->uploads();
    const auto failed = std::count_if(uploads.jobs().begin(), uploads.jobs().end(),
                                      [](const UploadJob& job) { return job.state == UploadState::failed; });
    // Only reset and save: without a server address the queue pass that follows starts no
    // transfer that the exit right after would cut off.
    uploads.setAPIBaseURLProvider([] { return std::optional<QUrl>(); });
    uploads.retryAll();
    // retryAll posts its work to the main thread; this quit is posted after it.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    (void)QCoreApplication::exec();
    if (UploadQueueReport::printSaveError(uploads)) {
        return kFailure;
    }
    std::cerr << CliText::tr("%n failed upload(s) set back to pending", nullptr, static_cast<int>(failed))
                     .toStdString()
              << std::endl;
    return kSuccess;
}

int enqueue(const QStringList& arguments) {
    auto options = EnqueueOptions::parse(arguments);
    if (!options) {
        return usageError(options.error().toStdString() + "\n" + EnqueueOptions::usage().toStdString());
    }
    for (const std::filesystem::path& file : options->files) {
        if (const auto refusal = EnqueueOptions::refusalFor(file)) {
            return usageError(file.string() + ": " + *refusal);
        }
    }
    int exitCode = kFailure;
    const auto env = makeCliEnvironment(UploadQueueClaim::take, exitCode);
    if (!env) {
        return exitCode;
    }
    UploadManager& uploads = *env->uploads();
    // Only queued here; the next `upload` (or the window) sends them.
    uploads.setAPIBaseURLProvider([] { return std::optional<QUrl>(); });
    int queued = 0;
    for (const std::filesystem::path& file : options->files) {
        const std::string name = file.filename().string();
        if (std::ranges::any_of(uploads.jobs(), [&](const UploadJob& job) { return job.filename == name; })) {
            std::cerr
                << CliText::tr("Already queued, skipped: %1").arg(QString::fromStdString(name)).toStdString()
                << std::endl;
            continue;
        }
        uploads.enqueue(name, ChunkFiling{options->projectID, std::nullopt, options->meetingID, std::nullopt},
                        std::nullopt, file.parent_path());
        ++queued;
    }
    if (UploadQueueReport::printSaveError(uploads)) {
        return kFailure;
    }
    std::cerr << CliText::tr("%n chunk file(s) queued; send them with veltrane-cli upload", nullptr, queued)
                     .toStdString()
              << std::endl;
    return kSuccess;
}

int upload(const QStringList& arguments) {
    auto options = UploadOptions::parse(arguments);
    if (!options) {
        return usageError(options.error().toStdString() + "\n" + UploadOptions::usage().toStdString());
    }
    int exitCode = kFailure;
    auto env = makeCliEnvironment(UploadQueueClaim::take, exitCode);
    if (!env) {
        return exitCode;
    }
    if (options->directory) {
        env->destination().adoptFolder(*options->directory, BookmarkSaving::keep, ScopedAccess::optional);
    }
    // Jobs made by earlier versions look for their chunk in the current folder; newer ones know theirs.
    const auto& jobs = env->uploads()->jobs();
    const bool needsFolder = jobs.empty() || std::ranges::any_of(jobs, [](const UploadJob& job) {
                                 return job.state != UploadState::completed && !job.folder;
                             });
    if (!env->destination().url() && needsFolder) {
        return usageError(
            CliText::tr("no chunk folder known: pass --dir DIR (or record with --dir first)").toStdString());
    }
    (void)env->recoverInterruptedChunks();
    UploadCommand command(std::move(*options), std::move(env));
    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &command,
                     &UploadCommand::interrupt);
    QObject::connect(&command, &UploadCommand::finished, qApp, &QCoreApplication::exit, Qt::QueuedConnection);
    QTimer::singleShot(0, &command, &UploadCommand::run);
    return QCoreApplication::exec();
}

} // namespace

QString EnqueueOptions::usage() {
    return QStringLiteral("usage: veltrane-cli enqueue --project ID [--meeting ID] FILE...");
}

std::expected<EnqueueOptions, QString> EnqueueOptions::parse(const QStringList& arguments) {
    EnqueueOptions options;
    bool hasProject = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (name == QStringLiteral("--project") || name == QStringLiteral("--meeting")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                return std::unexpected(CliText::tr("%1 needs a value").arg(name));
            }
            const std::string value = arguments[++i].toStdString();
            if (name == QStringLiteral("--project")) {
                options.projectID = value;
                hasProject = true;
            } else {
                options.meetingID = value;
            }
        } else if (name.startsWith(QStringLiteral("--"))) {
            return std::unexpected(CliText::tr("unknown option: %1").arg(name));
        } else {
            const QFileInfo file(name);
            if (!file.isFile()) {
                return std::unexpected(CliText::tr("no such chunk file: %1").arg(name));
            }
            options.files.emplace_back(file.absoluteFilePath().toStdString());
        }
    }
    if (!hasProject) {
        return std::unexpected(CliText::tr("--project is required"));
    }
    if (options.files.empty()) {
        return std::unexpected(CliText::tr("name at least one chunk file"));
    }
    return options;
}

std::optional<std::string> EnqueueOptions::refusalFor(const std::filesystem::path& file) {
    // deviceID-yyyy-MM-dd-HHmmss-chunk-NNN[-START][-STOP][-dup-XXXXXXXX].wav|m4a
    static const QRegularExpression chunkName(
        QStringLiteral("^[A-Za-z0-9]*[0-9]-\\d{4}-\\d{2}-\\d{2}-\\d{6}-chunk-\\d{3,}(-START)?(-STOP)?"
                       "(-dup-[0-9A-Fa-f]{8})?\\.(wav|m4a)$"));
    const QString name = QString::fromStdString(file.filename().string());
    if (!chunkName.match(name).hasMatch()) {
        return CliText::tr("not a chunk file of VeltraneRecorder (names look like "
                           "rig1-2025-03-14-092653-chunk-001.wav)")
            .toStdString();
    }
    std::ifstream in(file, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    const std::string_view bytes(head, static_cast<std::size_t>(in.gcount()));
    const bool wav = bytes.size() == 12 && bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WAVE";
    const bool m4a = bytes.size() >= 8 && bytes.substr(4, 4) == "ftyp";
    if (name.endsWith(QStringLiteral(".wav")) ? !wav : !m4a) {
        return CliText::tr("its content is not the recording its name says").toStdString();
    }
    return std::nullopt;
}

bool isUploadCommand(const QString& name) {
    return name == QStringLiteral("uploads") || name == QStringLiteral("upload") ||
           name == QStringLiteral("retry-all") || name == QStringLiteral("enqueue");
}

int runUploadCommand(const QStringList& arguments) {
    const QString command = arguments.value(0);
    const QStringList rest = arguments.mid(1);
    if (command == QStringLiteral("upload")) {
        if (rest.contains(QStringLiteral("--help"))) {
            std::cout << UploadOptions::usage().toStdString() << std::endl;
            return kSuccess;
        }
        return upload(rest);
    }
    if (command == QStringLiteral("enqueue")) {
        if (rest.contains(QStringLiteral("--help"))) {
            std::cout << EnqueueOptions::usage().toStdString() << std::endl;
            return kSuccess;
        }
        return enqueue(rest);
    }
    if (!rest.isEmpty()) {
        return usageError(CliText::tr("%1 takes no arguments").arg(command).toStdString());
    }
    if (command == QStringLiteral("uploads")) {
        return listUploads();
    }
    if (command == QStringLiteral("retry-all")) {
        return retryAll();
    }
    return usageError(CliText::tr("unknown command: %1").arg(command).toStdString());
}

} // namespace veltrane
