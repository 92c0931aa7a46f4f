#include "recording/SystemSource.h"

#include <QCoreApplication>

namespace veltrane {

SystemSource SystemSource::fromDisplay(const OutputDevice& display, const ShareableContentPtr& content) {
    SystemSource source;
    source.id = static_cast<std::int64_t>(display.displayID);
    // There are no displays on this platform: the output device's description tells the user
    // which sound is captured.
    source.name = (display.name == kDefaultOutputDeviceName
                       ? defaultOutputName(display.description)
                       : QCoreApplication::translate("veltrane::SystemSource", "Desktop Audio (%1)")
                             .arg(QString::fromStdString(display.description)));
    source.display = display;
    source.scContent = content;
    return source;
}

SystemSource SystemSource::fromApplication(const RunningApplication& app,
                                           const ShareableContentPtr& content) {
    SystemSource source;
    source.id = static_cast<std::int64_t>(app.processID);
    source.name = QCoreApplication::translate("veltrane::SystemSource", "App: %1")
                      .arg(QString::fromStdString(app.applicationName));
    source.app = app;
    source.scContent = content;
    return source;
}

QString SystemSource::defaultOutputName(const std::string& deviceDescription) {
    return QCoreApplication::translate("veltrane::SystemSource", "Default output (%1)")
        .arg(QString::fromStdString(deviceDescription));
}

std::vector<SystemSource> SystemSource::listFrom(const ShareableContentPtr& content) {
    std::vector<SystemSource> sources;
    if (!content) {
        return sources;
    }
    sources.reserve(content->displays.size() + content->applications.size());
    for (const OutputDevice& display : content->displays) {
        sources.push_back(fromDisplay(display, content));
    }
    for (const RunningApplication& app : content->applications) {
        sources.push_back(fromApplication(app, content));
    }
    return sources;
}

} // namespace veltrane
