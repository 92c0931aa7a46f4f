#pragma once

#include "platform/capture/CaptureService.h"
#include "platform/encoding/MediaFileWriter.h"
#include "recording/AudioRecorder.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace veltrane {

// The options of `veltrane-cli record`, parsed and checked.
struct RecordOptions {
    std::filesystem::path directory;
    QString deviceID;
    RecordingFormat format = RecordingFormat::m4a;
    std::optional<std::int64_t> sourceID;  // absent: the first listed, the default output
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

// `veltrane-cli record`: lists the sources, picks one, records until the duration has passed
// or a stop is requested, then waits until the final chunk has been reported.
class RecordCommand : public QObject {
    Q_OBJECT
public:
    RecordCommand(RecordOptions options, std::shared_ptr<CaptureService> capture,
                  std::shared_ptr<MediaFileWriterFactory> writerFactory, QObject* parent = nullptr);

    void run();
    // Stops the recording (SIGINT/SIGTERM); a second request while stopping is ignored.
    void requestStop();

    [[nodiscard]] AudioRecorder& recorder() { return recorder_; }

signals:
    void finished(int exitCode);

private:
    void sourcesListed(const std::expected<CaptureSourcesPtr, PlatformError>& result);
    void start(const SystemSource& source);
    void errorChanged();
    void recordingChanged();
    void stop(int exitCode);
    void fail(const QString& message, int exitCode);

    RecordOptions options_;
    std::shared_ptr<CaptureService> capture_;
    AudioRecorder recorder_;
    bool started_ = false;
    bool stopping_ = false;
    int exitCode_ = 0;
};

} // namespace veltrane
