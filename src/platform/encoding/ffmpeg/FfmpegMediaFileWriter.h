#pragma once

#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <atomic>
#include <filesystem>
#include <memory>

namespace veltrane {

class FfmpegEncodingSession;

// The audio input of an FfmpegMediaFileWriter. Appended buffers go into the writer's queue;
// encoding happens on the writer's own thread. Takes buffers only once the writer has added
// it (addInput), started writing and started its timeline.
class FfmpegWriterInput final : public MediaWriterInput {
public:
    FfmpegWriterInput(std::shared_ptr<FfmpegEncodingSession> session, AudioOutputSettings settings);

    [[nodiscard]] const AudioOutputSettings& outputSettings() const override { return settings_; }
    // Accepted for compatibility; buffers are always queued, never waited for.
    void setExpectsMediaDataInRealTime(bool realTime) override { expectsRealTime_ = realTime; }
    [[nodiscard]] bool isReadyForMoreMediaData() const override;
    [[nodiscard]] bool append(const SampleBufferPtr& buffer) override;
    void markAsFinished() override;

    [[nodiscard]] bool expectsMediaDataInRealTime() const { return expectsRealTime_; }
    [[nodiscard]] bool belongsTo(const FfmpegEncodingSession& session) const {
        return session_.get() == &session;
    }
    [[nodiscard]] bool isAttached() const { return attached_; }
    // Called by the writer's addInput.
    void attach() { attached_ = true; }

private:
    std::shared_ptr<FfmpegEncodingSession> session_;
    AudioOutputSettings settings_;
    bool expectsRealTime_ = false;
    std::atomic<bool> attached_ = false;
};

class FfmpegEncodingSession;
class FfmpegWriterInput;

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
