#include "recording/SystemSource.h"

namespace veltrane {

SystemSource SystemSource::fromDisplay(const OutputDevice& display, const ShareableContentPtr& content) {
    SystemSource source;
    source.id = static_cast<std::int64_t>(display.displayID);
    // There are no displays on this platform: the output device's description tells the user
    // which sound is captured.
    source.name = (display.name == kDefaultOutputDeviceName ? QStringLiteral("Default output (")
                                                            : QStringLiteral("Desktop Audio (")) +
                  QString::fromStdString(display.description) + QChar(')');
    source.display = display;
    source.scContent = content;
    return source;
}

SystemSource SystemSource::fromApplication(const RunningApplication& app,
                                           const ShareableContentPtr& content) {
    SystemSource source;
    source.id = static_cast<std::int64_t>(app.processID);
    source.name = QStringLiteral("App: ") + QString::fromStdString(app.applicationName);
    source.app = app;
    source.scContent = content;
    return source;
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
