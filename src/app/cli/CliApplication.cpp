#include "app/cli/CliApplication.h"

#include "app/AppEnvironment.h"
#include "app/SignalWatcher.h"
#include "app/Translations.h"
#include "app/cli/RecordCommand.h"
#include "app/cli/ServerCommands.h"
#include "app/cli/SourcesCommand.h"
#include "app/cli/UploadCommands.h"
#include "app/cli/UploadRecording.h"
#include "platform/core/Log.h"
#include "server/ProjectService.h"
#include "server/ServerErrors.h"
#include "upload/UploadQueueFile.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <iostream>
#include <stdexcept>

namespace veltrane {

namespace {

QString usage() {
    return QStringLiteral("usage: veltrane-cli <command> [options]\n"
                          "commands:\n"
                          "  sources                 list the capturable sources and microphones\n"
                          "  record --dir DIR --device-id ID [...]   record chunk files (see record --help)\n"
                          "  login --email E         sign in (password from standard input)\n"
                          "  whoami                  show the signed-in user\n"
                          "  projects                list the active projects\n"
                          "  meetings PROJECT        list a project's meetings\n"
                          "  create-meeting PROJECT --name N --date yyyy-MM-dd [--end-date yyyy-MM-dd]\n"
                          "                          add a meeting to a project\n"
                          "  uploads                 list the upload queue\n"
                          "  upload [--wait] [--dir DIR]   send the queued chunks\n"
                          "  retry-all               set failed uploads back to pending\n"
                          "  enqueue --project P [--meeting M] FILE...   queue existing chunk files\n"
                          "  --help, --version       show this help or the version\n");
}

int usageError(const QString& message) {
    QTextStream err(stderr);
    err << "veltrane-cli: " << message << Qt::endl;
    return 2;
}

// How a recording's project and meeting stand on the server.
enum class AssignmentCheck { usable, notActive, unreachable };

struct CheckedAssignment {
    AssignmentCheck check = AssignmentCheck::usable;
    ChunkFiling names; // the ids stand in for names the server did not give
    QString message;
};

// Looks the project (and meeting) up among what the project picker would offer.
QCoro::Task<CheckedAssignment> checkAssignment(AppEnvironment& env, std::string projectId,
                                               std::optional<std::string> meetingId) {
    CheckedAssignment result;
    result.names.projectId = projectId;
    result.names.meetingId = meetingId;
    try {
        const ProjectService projects(env.apiClient());
        const auto active = AssignmentModel::activeProjects(co_await projects.fetchActiveProjects());
        const auto project = std::find_if(active.begin(), active.end(),
                                          [&](const ProjectResponse& p) { return p.id == projectId; });
        if (project == active.end()) {
            result.check = AssignmentCheck::notActive;
            result.message = CliText::tr("project %1 is not an active project (see veltrane-cli projects)")
                                 .arg(QString::fromStdString(projectId));
            co_return result;
        }
        result.names.projectName = project->name;
        if (meetingId) {
            const auto meetings = co_await projects.fetchMeetings(QString::fromStdString(projectId));
            const auto meeting = std::find_if(meetings.begin(), meetings.end(),
                                              [&](const MeetingResponse& m) { return m.id == *meetingId; });
            if (meeting == meetings.end()) {
                result.check = AssignmentCheck::notActive;
                result.message =
                    CliText::tr("meeting %1 is not a meeting of project %2")
                        .arg(QString::fromStdString(*meetingId), QString::fromStdString(projectId));
                co_return result;
            }
            result.names.meetingName = meeting->name;
        }
    } catch (const std::exception& error) {
        result.check = AssignmentCheck::unreachable;
        result.message = CliText::tr("Could not check the project with the server (%1); "
                                     "chunks are queued under the ids")
                             .arg(shownMessage(userDescription(error)));
        result.names.projectName = projectId;
        result.names.meetingName = meetingId;
    }
    co_return result;
}

int record(const QStringList& arguments) {
    if (arguments.contains(QStringLiteral("--help"))) {
        QTextStream(stdout) << RecordOptions::usage() << Qt::endl;
        return 0;
    }
    auto options = RecordOptions::parse(arguments);
    if (!options) {
        return usageError(options.error());
    }
    int exitCode = 0;
    auto env =
        makeCliEnvironment(options->projectID ? UploadQueueClaim::take : UploadQueueClaim::leave, exitCode);
    if (!env) {
        return exitCode;
    }
    // The folder is remembered, so that a later `upload` finds the chunks.
    env->destination().adoptFolder(options->directory, BookmarkSaving::save, ScopedAccess::optional);
    if (env->destination().url() != options->directory.lexically_normal()) {
        return usageError(env->destination().errorMessageText());
    }
    // Chunks of a recording whose process died get their names (and, when this process uploads,
    // their place in the queue) before the new recording starts.
    (void)env->recoverInterruptedChunks();
    std::unique_ptr<UploadRecording> uploads;
    if (options->projectID) {
        ChunkFiling ids;
        ids.projectId = options->projectID->toStdString();
        ids.meetingId = options->meetingID ? std::optional(options->meetingID->toStdString()) : std::nullopt;
        uploads = std::make_unique<UploadRecording>(*env, ids);
        // The recording starts at once; the project is checked beside it.
        [](QPointer<UploadRecording> target, AppEnvironment& environment,
           ChunkFiling assignment) -> QCoro::Task<> {
            const CheckedAssignment checked =
                co_await checkAssignment(environment, assignment.projectId, assignment.meetingId);
            if (!target) {
                co_return;
            }
            if (checked.check == AssignmentCheck::notActive) {
                target->assignmentRefused(checked.message);
                co_return;
            }
            if (checked.check == AssignmentCheck::unreachable) {
                QTextStream(stderr) << checked.message << Qt::endl;
            }
            target->assignmentConfirmed(checked.names);
        }(uploads.get(), *env, ids);
    }
    RecordCommand record(std::move(*options), env->capture(), env->writerFactory());
    SignalWatcher signalWatcher;
    if (uploads) {
        uploads->attach(record, signalWatcher);
        QObject::connect(uploads.get(), &UploadRecording::finished, qApp, &QCoreApplication::exit,
                         Qt::QueuedConnection);
    } else {
        QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &record,
                         &RecordCommand::requestStop);
        QObject::connect(&record, &RecordCommand::finished, qApp, &QCoreApplication::exit,
                         Qt::QueuedConnection);
    }
    QTimer::singleShot(0, &record, &RecordCommand::run);
    return QCoreApplication::exec();
}

} // namespace

std::unique_ptr<AppEnvironment> makeCliEnvironment(UploadQueueClaim claim, int& exitCode) {
    std::optional<AppPlatform> platform;
    try {
        platform = AppPlatform::system();
    } catch (const std::invalid_argument& error) {
        std::cerr << shownMessage(error.what()).toStdString() << std::endl;
        exitCode = 2;
        return nullptr;
    }
    platform->uploadQueueClaim = claim;
    auto env = std::make_unique<AppEnvironment>(std::move(*platform));
    if (claim == UploadQueueClaim::take && !env->uploads()) {
        std::cerr
            << shownMessage(UploadQueueLock::refusalReason(env->applicationDataDirectory())).toStdString()
            << std::endl;
        exitCode = 1;
        return nullptr;
    }
    exitCode = 0;
    return env;
}

int runCli(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.first() == QStringLiteral("--help") ||
        arguments.first() == QStringLiteral("help")) {
        QTextStream(stdout) << usage();
        return arguments.isEmpty() ? 2 : 0;
    }
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QStringLiteral("--version")) {
        QTextStream(stdout) << "veltrane-cli " << VELTRANE_VERSION << Qt::endl;
        return 0;
    }
    // What these print is data that scripts read; diagnostic lines go to standard error.
    if (QStringList{"sources", "projects", "meetings", "uploads"}.contains(command)) {
        sendLogToStandardError();
    }
    if (isServerCommand(command)) {
        return runServerCommand(arguments);
    }
    if (isUploadCommand(command)) {
        return runUploadCommand(arguments);
    }
    if (command == QStringLiteral("record")) {
        return record(rest);
    }
    if (command == QStringLiteral("sources")) {
        if (!rest.isEmpty()) {
            return usageError(CliText::tr("sources takes no arguments"));
        }
        int exitCode = 0;
        const auto env = makeCliEnvironment(UploadQueueClaim::leave, exitCode);
        if (!env) {
            return exitCode;
        }
        SourcesCommand sources(env->capture());
        QObject::connect(&sources, &SourcesCommand::finished, qApp, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        QTimer::singleShot(0, &sources, &SourcesCommand::run);
        return QCoreApplication::exec();
    }

    return usageError(CliText::tr("unknown command: %1").arg(command) + QStringLiteral("\n") + usage());
}

} // namespace veltrane
