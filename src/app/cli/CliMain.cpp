#include "app/SignalWatcher.h"
#include "app/cli/CliApplication.h"
#include "platform/core/Log.h"
#include "platform/encoding/ffmpeg/FfmpegLogging.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    veltrane::SignalWatcher::blockTerminationSignals();
    veltrane::enableLineBufferedStdout();
    veltrane::limitFfmpegLoggingToErrors();
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrane"));
    QCoreApplication::setApplicationName(QStringLiteral("VeltraneRecorder"));
    return veltrane::runCli(app.arguments().mid(1));
}
