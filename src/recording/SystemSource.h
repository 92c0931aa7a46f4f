#pragma once

#include "platform/capture/CaptureSources.h"

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace veltrane {

// One selectable system-audio source: a whole output device or one running program ("app"),
// with the listing snapshot it came from.
struct SystemSource {
    std::int64_t id = 0;
    QString name;
    std::optional<OutputDevice> output;
    std::optional<RunningApplication> app;
    CaptureSourcesPtr snapshot;

    [[nodiscard]] static SystemSource fromOutput(const OutputDevice& output,
                                                 const CaptureSourcesPtr& content);
    [[nodiscard]] static SystemSource fromApplication(const RunningApplication& app,
                                                      const CaptureSourcesPtr& content);

    // Sources of one snapshot: every output in the order delivered, then every application.
    [[nodiscard]] static std::vector<SystemSource> listFrom(const CaptureSourcesPtr& content);
    // The name of the followed default output, by the device it is now.
    [[nodiscard]] static QString defaultOutputName(const std::string& deviceDescription);

    // Equal when all fields are; snapshots compare by identity, so a source from an earlier
    // listing never equals the same device or program in a later one.
    friend bool operator==(const SystemSource& lhs, const SystemSource& rhs) {
        return lhs.id == rhs.id && lhs.name == rhs.name && lhs.output == rhs.output && lhs.app == rhs.app &&
               lhs.snapshot == rhs.snapshot;
    }
};

} // namespace veltrane

Q_DECLARE_METATYPE(veltrane::SystemSource)
