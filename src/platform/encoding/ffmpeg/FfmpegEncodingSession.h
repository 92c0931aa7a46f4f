#pragma once

#include "platform/core/PlatformError.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace veltrane {

class SerialQueue;

// Everything one media file writer shares with its input and its encoding thread: the queue
// of buffers still to encode, the status and error, and the finish completions.
//
// The encoding runs as one long task on the session's own serial queue (thread
// "ffmpeg.encoding"), one per open chunk, so chunks never wait for each other. The task holds its
// own reference to the session, so the writer object can be released on any thread (even from
// inside its completion) without waiting for it: a requested finish runs to the end, anything
// else is cancelled. The task ends once the session is finished or cancelled; the queue's thread
// ends with the session.
class FfmpegEncodingSession : public std::enable_shared_from_this<FfmpegEncodingSession> {
public:
    // Seconds of audio the queue takes before the input reports that it is not ready.
    static constexpr std::int64_t kReadyBoundSeconds = 10;
    // Seconds of audio beyond which appends are refused outright, for a caller that ignores
    // readiness while the encoder is stuck.
    static constexpr std::int64_t kHardLimitSeconds = 60;
    // What has been encoded is put on the disk (and synced) at least this often.
    static constexpr std::chrono::milliseconds kDiskFlushInterval{1000};

    FfmpegEncodingSession(std::filesystem::path path, MediaFileType fileType);
    ~FfmpegEncodingSession();
    FfmpegEncodingSession(const FfmpegEncodingSession&) = delete;
    FfmpegEncodingSession& operator=(const FfmpegEncodingSession&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] MediaFileType fileType() const { return fileType_; }

    // Set once, by the writer's addInput, before start().
    void configure(const FfmpegEncoderConfig& config);
    [[nodiscard]] bool isConfigured() const;

    // Opens the file and the encoder and starts the encoding thread.
    [[nodiscard]] bool start();
    void startTimeline(const MediaTime& sourceTime);

    [[nodiscard]] bool isReadyForMoreMediaData() const;
    [[nodiscard]] bool enqueue(const SampleBufferPtr& buffer);
    void markInputFinished();
    void finish(std::function<void()> completion);
    void cancel();
    // The writer object is gone: cancel unless a finish was requested.
    void releaseByOwner();

    [[nodiscard]] MediaWriterStatus status() const { return status_.load(); }
    [[nodiscard]] std::optional<PlatformError> error() const;

private:
    void runWorker();
    void encodeBatch(std::deque<SampleBufferPtr>& batch);
    // Puts what has been encoded on the disk when the last time is kDiskFlushInterval ago.
    // Encoding thread, without the lock.
    void flushIfDue();
    // Encoding failed: the writer takes no more audio. Encoding thread, without the lock.
    void failEncoding(PlatformError error);
    // Status changes only from Writing (or Unknown) to a final state, never between final ones.
    void setFinalStatusLocked(MediaWriterStatus status);
    // Posts runWorker() to the encoding queue (made on first use); false when no thread could be
    // made.
    [[nodiscard]] bool spawnWorkerLocked();

    const std::filesystem::path path_;
    const MediaFileType fileType_;
    std::optional<FfmpegEncoderConfig> config_;
    // Used by start() before the thread exists, then only by the encoding thread.
    FfmpegAudioEncoder encoder_;
    std::int64_t readyBoundFrames_ = 0;
    std::int64_t hardLimitFrames_ = 0;
    std::chrono::steady_clock::time_point lastDiskFlush_ =
        std::chrono::steady_clock::now(); // encoding thread

    std::atomic<MediaWriterStatus> status_ = MediaWriterStatus::unknown;
    std::atomic<std::int64_t> pendingFrames_ = 0;
    std::atomic<bool> timelineStarted_ = false;
    std::atomic<bool> inputFinished_ = false;
    std::atomic<bool> cancelRequested_ = false;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<SampleBufferPtr> queue_;
    std::optional<PlatformError> error_;
    bool finishRequested_ = false;
    std::vector<std::function<void()>> completions_;
    bool workerRunning_ = false;
    bool workerWaiting_ = false;
    std::unique_ptr<SerialQueue> encodingQueue_; // made by the first spawnWorkerLocked()
};

} // namespace veltrane
