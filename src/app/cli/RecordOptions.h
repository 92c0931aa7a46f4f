#pragma once

#include "recording/AudioRecorder.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>

namespace veltrane {

// The options of `veltrane-cli record`, parsed and checked.
struct RecordOptions {
    std::filesystem::path directory;
    QString deviceID;
    RecordingFormat format = RecordingFormat::M4a;
    std::optional<std::int64_t> sourceID;
    std::optional<double> durationSeconds; // absent: until interrupted
    double chunkDurationSeconds = 300.0;
    float systemGain = 1.0f;
    std::optional<QString> microphoneID;
    float microphoneGain = 1.0f;
    std::optional<QString> projectID;
    std::optional<QString> meetingID;

    // `arguments` excludes the program and command names. The error is a one-line message.
    [[nodiscard]] static std::expected<RecordOptions, QString> parse(const QStringList& arguments);

    [[nodiscard]] static QString usage();
};

} // namespace veltrane
