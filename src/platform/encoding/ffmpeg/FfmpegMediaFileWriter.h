#pragma once

#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>

namespace veltrane {

// Counts the encoding threads of a set of writers that are still running (writing, or
// finishing a file and calling its completion), so that a process about to exit can wait
// for the last files to be finished instead of cutting them off.
class FfmpegWriterActivity {
public:
    void threadStarted();
    void threadEnded();
    // True once no thread is running, false when `limit` passes first.
    [[nodiscard]] bool waitUntilIdle(std::chrono::milliseconds limit);
    [[nodiscard]] int runningThreads() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
};

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

    // Waits until no writer made here is writing or finishing any more (every requested
    // finish has written its file and run its completion); false when `limit` passes first.
    // For shutdown, after the last recording has been stopped.
    [[nodiscard]] bool waitForPendingWriters(std::chrono::milliseconds limit) const;

private:
    std::shared_ptr<FfmpegWriterActivity> activity_ = std::make_shared<FfmpegWriterActivity>();
};

} // namespace veltrane
