#include "recording/SystemSource.h"

#include <QCoreApplication>

namespace veltrane {

SystemSource SystemSource::fromOutput(const OutputDevice& output, const CaptureSourcesPtr& content) {
    SystemSource source;
    source.id = static_cast<std::int64_t>(output.outputID);
    // The output device's description tells the user which sound is captured.
    source.name = (output.name == kDefaultOutputDeviceName
                       ? defaultOutputName(output.description)
                       : QCoreApplication::translate("veltrane::SystemSource", "Desktop Audio (%1)")
                             .arg(QString::fromStdString(output.description)));
    source.output = output;
    source.snapshot = content;
    return source;
}

SystemSource SystemSource::fromApplication(const RunningApplication& app, const CaptureSourcesPtr& content) {
    SystemSource source;
    source.id = static_cast<std::int64_t>(app.processID);
    source.name = QCoreApplication::translate("veltrane::SystemSource", "App: %1")
                      .arg(QString::fromStdString(app.applicationName));
    source.app = app;
    source.snapshot = content;
    return source;
}

QString SystemSource::defaultOutputName(const std::string& deviceDescription) {
    return QCoreApplication::translate("veltrane::SystemSource", "Default output (%1)")
        .arg(QString::fromStdString(deviceDescription));
}

std::vector<SystemSource> SystemSource::listFrom(const CaptureSourcesPtr& content) {
    std::vector<SystemSource> sources;
    if (!content) {
        return sources;
    }
    sources.reserve(content->outputs.size() + content->applications.size());
    for (const OutputDevice& output : content->outputs) {
        sources.push_back(fromOutput(output, content));
    }
    for (const RunningApplication& app : content->applications) {
        sources.push_back(fromApplication(app, content));
    }
    return sources;
}

} // namespace veltrane
