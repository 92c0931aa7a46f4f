#include "app/cli/SourcesCommand.h"

#include "app/cli/CliApplication.h"
#include "platform/dispatch/MainThread.h"
#include "recording/SystemSource.h"

#include <QTextStream>

namespace veltrane {

SourcesCommand::SourcesCommand(std::shared_ptr<CaptureService> capture, QObject* parent)
    : QObject(parent), capture_(std::move(capture)) {}

void SourcesCommand::run() {
    const QPointer<SourcesCommand> guard(this);
    capture_->requestSources([guard](const std::expected<CaptureSourcesPtr, PlatformError>& result) {
        postGuarded(guard, [result](SourcesCommand* self) { self->listed(result); });
    });
}

void SourcesCommand::listed(const std::expected<CaptureSourcesPtr, PlatformError>& result) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!result) {
        err << CliText::tr("Source Error: %1")
                   .arg(QString::fromStdString(result.error().localizedDescription))
            << Qt::endl;
        emit finished(1);
        return;
    }
    for (const SystemSource& source : SystemSource::listFrom(*result)) {
        out << source.id << '\t' << source.name << '\n';
    }
    const auto microphones = capture_->microphones();
    if (!microphones) {
        out.flush();
        err << CliText::tr("Source Error: %1")
                   .arg(QString::fromStdString(microphones.error().localizedDescription))
            << Qt::endl;
        emit finished(1);
        return;
    }
    for (const InputDevice& device : *microphones) {
        out << "mic\t" << QString::fromStdString(device.name) << '\t'
            << QString::fromStdString(device.description) << '\n';
    }
    out.flush();
    emit finished(0);
}

} // namespace veltrane
