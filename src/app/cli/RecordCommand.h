#pragma once

#include "app/cli/RecordOptions.h"
#include "platform/capture/CaptureService.h"
#include "platform/encoding/MediaFileWriter.h"
#include "recording/AudioRecorder.h"

#include <QObject>

#include <functional>
#include <memory>

namespace veltrane {

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

    // Called with every finished chunk (after the recorder counted it).
    std::function<void(const std::filesystem::path&)> onChunkReady;

    [[nodiscard]] AudioRecorder& recorder() { return recorder_; }

signals:
    void finished(int exitCode);

private:
    void sourcesListed(const std::expected<ShareableContentPtr, PlatformError>& result);
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
