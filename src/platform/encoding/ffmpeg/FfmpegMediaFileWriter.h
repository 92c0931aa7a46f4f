#pragma once

#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <atomic>
#include <filesystem>
#include <memory>

namespace veltrane {

class FfmpegEncodingSession;

// The audio input of a started FfmpegMediaFileWriter. Appended buffers go into the writer's
// queue; encoding happens on the writer's own thread.
class FfmpegWriterInput final : public MediaWriterInput {
public:
    explicit FfmpegWriterInput(std::shared_ptr<FfmpegEncodingSession> session);

    [[nodiscard]] bool isReadyForMoreMediaData() const override;
    [[nodiscard]] bool append(const SampleBufferPtr& buffer) override;
    void markAsFinished() override;

private:
    std::shared_ptr<FfmpegEncodingSession> session_;
};

// Writes one WAV (16-bit PCM) or M4A (AAC) file with FFmpeg. Appended buffers are queued and
// encoded on the writer's own thread; the file's timeline begins with the first buffer.
// Releasing the writer never waits for that thread: a requested finish still completes and
// calls its completion, and a writer released without a finish is cancelled.
class FfmpegMediaFileWriter final : public MediaFileWriter {
public:
    FfmpegMediaFileWriter(std::filesystem::path path, MediaFileType fileType);
    ~FfmpegMediaFileWriter() override;
    FfmpegMediaFileWriter(const FfmpegMediaFileWriter&) = delete;
    FfmpegMediaFileWriter& operator=(const FfmpegMediaFileWriter&) = delete;

    [[nodiscard]] std::expected<std::shared_ptr<MediaWriterInput>, PlatformError>
    startWriting(const AudioOutputSettings& settings, const MediaTime& sourceTime) override;
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override;
    [[nodiscard]] MediaWriterStatus status() const override;
    [[nodiscard]] std::optional<PlatformError> error() const override;

    [[nodiscard]] const std::filesystem::path& path() const;

private:
    std::shared_ptr<FfmpegEncodingSession> session_;
    std::shared_ptr<FfmpegWriterInput> input_;
};

// Makes FfmpegMediaFileWriters. Creation fails when a regular file already exists at the path
// (a writer never overwrites a file); the file itself is created by startWriting().
class FfmpegMediaFileWriterFactory final : public MediaFileWriterFactory {
public:
    [[nodiscard]] std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
    create(const std::filesystem::path& path, MediaFileType fileType) override;
    [[nodiscard]] std::expected<RepairOutcome, PlatformError>
    repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) override;
};

} // namespace veltrane
