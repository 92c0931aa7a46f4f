#include "app/cli/UploadCommands.h"

#include "app/AppEnvironment.h"
#include "app/SignalWatcher.h"
#include "app/cli/CliApplication.h"
#include "app/cli/UploadCommand.h"
#include "app/cli/UploadQueueReport.h"
#include "upload/UploadManager.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <iostream>

namespace veltrane {

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
    uploads.setApiBaseUrlProvider([] { return std::optional<QUrl>(); });
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
    SignalWatcher signals_;
    QObject::connect(&signals_, &SignalWatcher::terminationRequested, &command, &UploadCommand::interrupt);
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
