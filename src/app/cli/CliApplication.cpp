#include "app/cli/CliApplication.h"

#include "app/cli/RecordCommand.h"
#include "app/cli/SignalWatcher.h"
#include "app/cli/SourcesCommand.h"
#include "app/cli/UploadCommands.h"
#include "app/cli/UploadFolderSetting.h"
#include "app/cli/UploadRecording.h"
#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriterFactory.h"
#include "server/cli/ServerCommands.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTimer>

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
                          "  uploads                 list the upload queue\n"
                          "  upload [--wait] [--dir DIR]   send the queued chunks\n"
                          "  retry-all               set failed uploads back to pending\n");
}

int usageError(const QString& message) {
    QTextStream err(stderr);
    err << "veltrane-cli: " << message << Qt::endl;
    return 2;
}

} // namespace

int runCli(const QStringList& arguments) {
    if (arguments.isEmpty() || arguments.first() == QStringLiteral("--help") ||
        arguments.first() == QStringLiteral("help")) {
        QTextStream(stdout) << usage();
        return arguments.isEmpty() ? 2 : 0;
    }
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (isServerCommand(command)) {
        return runServerCommand(arguments);
    }
    if (isUploadCommand(command)) {
        return runUploadCommand(arguments);
    }
    auto capture = std::make_shared<PulseCaptureService>();

    if (command == QStringLiteral("sources")) {
        if (!rest.isEmpty()) {
            return usageError(QStringLiteral("sources takes no arguments"));
        }
        SourcesCommand sources(capture);
        QObject::connect(&sources, &SourcesCommand::finished, qApp, &QCoreApplication::exit,
                         Qt::QueuedConnection);
        QTimer::singleShot(0, &sources, &SourcesCommand::run);
        return QCoreApplication::exec();
    }

    if (command == QStringLiteral("record")) {
        if (rest.contains(QStringLiteral("--help"))) {
            QTextStream(stdout) << RecordOptions::usage() << Qt::endl;
            return 0;
        }
        auto options = RecordOptions::parse(rest);
        if (!options) {
            return usageError(options.error());
        }
        if (!UploadFolderSetting::save(options->directory)) {
            QTextStream(stderr) << "The recording folder could not be remembered" << Qt::endl;
        }
        std::unique_ptr<UploadRecording> uploads;
        if (options->projectID) {
            int exitCode = 0;
            uploads = UploadRecording::create(
                options->directory, options->projectID->toStdString(),
                options->meetingID ? std::optional(options->meetingID->toStdString()) : std::nullopt,
                exitCode);
            if (!uploads) {
                return exitCode;
            }
        }
        RecordCommand record(std::move(*options), capture, std::make_shared<FfmpegMediaFileWriterFactory>());
        SignalWatcher signals_;
        if (uploads) {
            uploads->attach(record, signals_);
            QObject::connect(uploads.get(), &UploadRecording::finished, qApp, &QCoreApplication::exit,
                             Qt::QueuedConnection);
        } else {
            QObject::connect(&signals_, &SignalWatcher::terminationRequested, &record,
                             &RecordCommand::requestStop);
            QObject::connect(&record, &RecordCommand::finished, qApp, &QCoreApplication::exit,
                             Qt::QueuedConnection);
        }
        QTimer::singleShot(0, &record, &RecordCommand::run);
        return QCoreApplication::exec();
    }

    return usageError(QStringLiteral("unknown command: ") + command + QStringLiteral("\n") + usage());
}

} // namespace veltrane
