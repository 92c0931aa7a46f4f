#include "app/cli/UploadCommands.h"

#include "app/AppEnvironment.h"
#include "app/SignalWatcher.h"
#include "app/UploadFailureNotifier.h"
#include "app/cli/CliApplication.h"
#include "app/cli/UploadSettleWatcher.h"
#include "platform/desktop/DesktopNotifications.h"
#include "upload/UploadJob.h"
#include "upload/UploadManager.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
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
                return std::unexpected(QStringLiteral("--dir needs a value"));
            }
            const QFileInfo folder(arguments[++i]);
            if (!folder.exists() || !folder.isDir()) {
                return std::unexpected(QStringLiteral("chunk folder does not exist: ") + folder.filePath());
            }
            options.directory = std::filesystem::path(folder.absoluteFilePath().toStdString());
        } else if (name.startsWith(QStringLiteral("--"))) {
            return std::unexpected(QStringLiteral("unknown option: ") + name);
        } else {
            return std::unexpected(QStringLiteral("unexpected argument: ") + name);
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
    return text;
}

std::string UploadQueueReport::summary(const std::vector<UploadJob>& jobs) {
    const auto count = [&](UploadState state) {
        return std::count_if(jobs.begin(), jobs.end(),
                             [state](const UploadJob& job) { return job.state == state; });
    };
    return "Uploads: " + std::to_string(count(UploadState::completed)) + " completed, " +
           std::to_string(count(UploadState::pending) + count(UploadState::uploading)) + " pending, " +
           std::to_string(count(UploadState::failed)) + " failed";
}

bool UploadQueueReport::allCompleted(const std::vector<UploadJob>& jobs) {
    return std::all_of(jobs.begin(), jobs.end(),
                       [](const UploadJob& job) { return job.state == UploadState::completed; });
}

UploadCommand::UploadCommand(UploadOptions options, std::unique_ptr<AppEnvironment> env, QObject* parent)
    : QObject(parent), options_(std::move(options)), env_(std::move(env)),
      watcher_(std::make_unique<UploadSettleWatcher>(*env_->uploads())),
      notifications_(std::make_unique<DesktopNotifications>()),
      failureNotifier_(std::make_unique<UploadFailureNotifier>(*notifications_)) {
    connect(watcher_.get(), &UploadSettleWatcher::settled, this, &UploadCommand::settled);
    failureNotifier_->watch(env_->uploads());
}

UploadCommand::~UploadCommand() {
    // Both refer to the environment's upload manager.
    failureNotifier_.reset();
    watcher_.reset();
}

void UploadCommand::run() {
    watcher_->reconnect();
    watcher_->watch();
}

void UploadCommand::interrupt() {
    std::cerr << "Interrupted: the remaining uploads stay queued" << std::endl;
    finish(options_.wait ? 1 : 0);
}

void UploadCommand::settled() {
    const std::vector<UploadJob>& jobs = env_->uploads()->jobs();
    if (!options_.wait) {
        finish(0);
        return;
    }
    // Settled with pending jobs: nothing more happens without a new trigger (missing chunk file,
    // no server URL, body not writable). Waiting longer would never end.
    const auto stuck = std::count_if(jobs.begin(), jobs.end(),
                                     [](const UploadJob& job) { return job.state == UploadState::pending; });
    if (stuck > 0) {
        std::cerr << stuck << " upload(s) cannot be sent now (chunk file missing or no server URL)"
                  << std::endl;
    }
    finish(UploadQueueReport::allCompleted(jobs) ? 0 : 1);
}

void UploadCommand::finish(int exitCode) {
    if (finished_) {
        return;
    }
    finished_ = true;
    failureNotifier_->flush();
    std::cerr << UploadQueueReport::summary(env_->uploads()->jobs()) << std::endl;
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

int listUploads() {
    const UploadManager uploads(UploadManager::defaultApplicationDataDirectory());
    for (const UploadJob& job : uploads.jobs()) {
        std::cout << UploadQueueReport::line(job) << '\n';
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
    std::cerr << failed << " failed upload(s) set back to pending" << std::endl;
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
    if (!env->destination().url()) {
        return usageError("no chunk folder known: pass --dir DIR (or record with --dir first)");
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

bool isUploadCommand(const QString& name) {
    return name == QStringLiteral("uploads") || name == QStringLiteral("upload") ||
           name == QStringLiteral("retry-all");
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
    if (!rest.isEmpty()) {
        return usageError(command.toStdString() + " takes no arguments");
    }
    if (command == QStringLiteral("uploads")) {
        return listUploads();
    }
    if (command == QStringLiteral("retry-all")) {
        return retryAll();
    }
    return usageError("unknown command: " + command.toStdString());
}

} // namespace veltrane
