#pragma once

#include "platform/encoding/MediaFileWriter.h"

#include <filesystem>
#include <memory>

namespace veltrane {

class FfmpegEncodingSession;
class FfmpegWriterActivity;
class FfmpegWriterInput;

// Writes one WAV (16-bit PCM) or M4A (AAC) file with FFmpeg. Appended buffers are queued and
// encoded on the writer's own thread; the file's timeline begins with the first buffer.
// Releasing the writer never waits for that thread: a requested finish still completes and
// calls its completion, and a writer released without a finish is cancelled.
class FfmpegMediaFileWriter final : public MediaFileWriter {
public:
    // `activity`, when given, counts the writer's encoding thread while it runs.
    FfmpegMediaFileWriter(std::filesystem::path path, MediaFileType fileType,
                          std::shared_ptr<FfmpegWriterActivity> activity = nullptr);
    ~FfmpegMediaFileWriter() override;
    FfmpegMediaFileWriter(const FfmpegMediaFileWriter&) = delete;
    FfmpegMediaFileWriter& operator=(const FfmpegMediaFileWriter&) = delete;

    [[nodiscard]] std::shared_ptr<MediaWriterInput>
    makeAudioInput(const AudioOutputSettings& settings) override;
    // True for an input made by this writer, with settings this writer can encode into its
    // container, while no input has been added and writing has not started.
    [[nodiscard]] bool canAddInput(const MediaWriterInput& input) const override;
    // Adds the input when canAddInput allows it; otherwise does nothing.
    void addInput(std::shared_ptr<MediaWriterInput> input) override;
    [[nodiscard]] bool startWriting() override;
    void startSession(const MediaTime& sourceTime) override;
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override;
    [[nodiscard]] MediaWriterStatus status() const override;
    [[nodiscard]] std::optional<PlatformError> error() const override;

    [[nodiscard]] const std::filesystem::path& path() const;

private:
    std::shared_ptr<FfmpegEncodingSession> session_;
    std::shared_ptr<FfmpegWriterInput> input_;
};

} // namespace veltrane
