#include "platform/encoding/ffmpeg/FfmpegEncodingSession.h"

#include "platform/dispatch/SerialQueue.h"
#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"

extern "C" {
#include <libavutil/error.h>
}

#include <cerrno>
#include <system_error>

namespace veltrane {

FfmpegEncodingSession::FfmpegEncodingSession(std::filesystem::path path, MediaFileType fileType)
    : path_(std::move(path)), fileType_(fileType) {}

FfmpegEncodingSession::~FfmpegEncodingSession() = default;

void FfmpegEncodingSession::configure(const FfmpegEncoderConfig& config) {
    const std::lock_guard lock(mutex_);
    config_ = config;
}

bool FfmpegEncodingSession::isConfigured() const {
    const std::lock_guard lock(mutex_);
    return config_.has_value();
}

bool FfmpegEncodingSession::start() {
    std::unique_lock lock(mutex_);
    if (status_ != MediaWriterStatus::unknown) {
        return false;
    }
    if (!config_) {
        error_ = makeFfmpegError(AVERROR(EINVAL), "no audio input was added before writing started");
        setFinalStatusLocked(MediaWriterStatus::failed);
        return false;
    }
    const FfmpegEncoderConfig config = *config_;
    lock.unlock();
    // No encoding thread exists yet, so the encoder is this caller's alone.
    auto opened = encoder_.open(path_, config);
    lock.lock();
    if (!opened) {
        error_ = opened.error();
        setFinalStatusLocked(MediaWriterStatus::failed);
        return false;
    }
    if (status_ != MediaWriterStatus::unknown) { // cancelled meanwhile
        lock.unlock();
        encoder_.close();
        return false;
    }
    readyBoundFrames_ = kReadyBoundSeconds * config.sampleRateHz;
    hardLimitFrames_ = kHardLimitSeconds * config.sampleRateHz;
    status_ = MediaWriterStatus::writing;
    if (!spawnWorkerLocked()) {
        error_ = makeFfmpegError(AVERROR(EAGAIN), "could not start the encoding thread");
        setFinalStatusLocked(MediaWriterStatus::failed);
        lock.unlock();
        encoder_.close();
        return false;
    }
    return true;
}

void FfmpegEncodingSession::startTimeline(const MediaTime& /*sourceTime*/) {
    // Buffers are written one after another as they arrive (the capture path delivers
    // continuous audio), so the first buffer's presentation time becomes file time 0 and the
    // source time itself is not needed for placement.
    timelineStarted_ = true;
}

bool FfmpegEncodingSession::isReadyForMoreMediaData() const {
    return status_ == MediaWriterStatus::writing && timelineStarted_ && !inputFinished_ &&
           pendingFrames_.load(std::memory_order_relaxed) < readyBoundFrames_;
}

bool FfmpegEncodingSession::enqueue(const SampleBufferPtr& buffer) {
    if (!buffer || status_ != MediaWriterStatus::writing || !timelineStarted_ || inputFinished_) {
        return false;
    }
    // config_ no longer changes once writing has started.
    if (!config_->acceptsBuffer(*buffer)) {
        return false;
    }
    const std::int64_t frames = buffer->numSamples();
    if (frames == 0) {
        return true;
    }
    bool wakeWorker = false;
    {
        const std::lock_guard lock(mutex_);
        if (status_ != MediaWriterStatus::writing || inputFinished_ ||
            pendingFrames_.load(std::memory_order_relaxed) + frames > hardLimitFrames_) {
            return false;
        }
        queue_.push_back(buffer);
        pendingFrames_.fetch_add(frames, std::memory_order_relaxed);
        wakeWorker = workerWaiting_;
    }
    if (wakeWorker) {
        wake_.notify_one();
    }
    return true;
}

void FfmpegEncodingSession::markInputFinished() {
    inputFinished_ = true;
}

void FfmpegEncodingSession::finish(std::function<void()> completion) {
    std::unique_lock lock(mutex_);
    completions_.push_back(std::move(completion));
    if (!finishRequested_) {
        finishRequested_ = true;
        inputFinished_ = true;
        if (status_ == MediaWriterStatus::unknown) {
            error_ = makeFfmpegError(AVERROR(EINVAL), "finish requested before writing started");
            setFinalStatusLocked(MediaWriterStatus::failed);
        }
    }
    if (workerRunning_) {
        // The running thread finishes the file (or has already) and then runs every completion.
        if (workerWaiting_) {
            wake_.notify_one();
        }
        return;
    }
    // No thread is left (never started, or it ended after a cancel): one is started just to
    // run the completions off the caller's thread.
    if (!spawnWorkerLocked()) {
        auto completions = std::move(completions_);
        completions_.clear();
        lock.unlock();
        for (auto& pending : completions) {
            if (pending) {
                pending();
            }
        }
    }
}

void FfmpegEncodingSession::cancel() {
    {
        const std::lock_guard lock(mutex_);
        if (finishRequested_) {
            return; // a requested finish always runs to the end
        }
        cancelRequested_ = true;
        inputFinished_ = true;
        setFinalStatusLocked(MediaWriterStatus::cancelled);
        queue_.clear();
        pendingFrames_ = 0;
    }
    wake_.notify_one();
}

void FfmpegEncodingSession::releaseByOwner() {
    bool mustCancel = false;
    {
        const std::lock_guard lock(mutex_);
        mustCancel = !finishRequested_ && workerRunning_;
    }
    if (mustCancel) {
        cancel();
    }
}

std::optional<PlatformError> FfmpegEncodingSession::error() const {
    const std::lock_guard lock(mutex_);
    return error_;
}

void FfmpegEncodingSession::setFinalStatusLocked(MediaWriterStatus status) {
    const MediaWriterStatus current = status_;
    if (current == MediaWriterStatus::unknown || current == MediaWriterStatus::writing) {
        status_ = status;
    }
}

bool FfmpegEncodingSession::spawnWorkerLocked() {
    try {
        if (!encodingQueue_) {
            encodingQueue_ = std::make_unique<SerialQueue>("ffmpeg.encoding");
        }
        encodingQueue_->post([self = shared_from_this()] { self->runWorker(); });
    } catch (const std::system_error&) {
        return false;
    }
    workerRunning_ = true;
    return true;
}

void FfmpegEncodingSession::runWorker() {
    std::deque<SampleBufferPtr> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        workerWaiting_ = true;
        // Wakes at least once per flush interval, so audio encoded before a pause in the
        // input still reaches the disk.
        wake_.wait_for(lock, kDiskFlushInterval,
                       [this] { return cancelRequested_ || finishRequested_ || !queue_.empty(); });
        workerWaiting_ = false;
        if (cancelRequested_) {
            break;
        }
        if (!queue_.empty() || !finishRequested_) {
            batch.swap(queue_);
            lock.unlock();
            encodeBatch(batch);
            flushIfDue();
            lock.lock();
            continue;
        }
        // Finish requested and everything queued is encoded.
        if (status_ == MediaWriterStatus::writing) {
            lock.unlock();
            auto finished = encoder_.finish();
            lock.lock();
            if (finished) {
                setFinalStatusLocked(MediaWriterStatus::completed);
            } else {
                error_ = finished.error();
                setFinalStatusLocked(MediaWriterStatus::failed);
            }
        }
        break;
    }
    workerRunning_ = false;
    workerWaiting_ = false;
    auto completions = std::move(completions_);
    completions_.clear();
    lock.unlock();

    // Cancelled or failed: the file stays as it is, only the handles are closed.
    encoder_.close();
    for (auto& completion : completions) {
        if (completion) {
            completion();
        }
    }
    completions.clear(); // what the completions held (perhaps the writer itself) goes here
    // The thread's own reference to the session goes when this returns; it may be the last.
}

void FfmpegEncodingSession::encodeBatch(std::deque<SampleBufferPtr>& batch) {
    while (!batch.empty()) {
        const SampleBufferPtr buffer = std::move(batch.front());
        batch.pop_front();
        if (cancelRequested_) {
            batch.clear();
            return;
        }
        if (status_ == MediaWriterStatus::writing) {
            if (auto encoded = encoder_.encode(*buffer); !encoded) {
                failEncoding(std::move(encoded.error()));
            }
        }
        pendingFrames_.fetch_sub(buffer->numSamples(), std::memory_order_relaxed);
    }
}

void FfmpegEncodingSession::flushIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (status_ != MediaWriterStatus::writing || now - lastDiskFlush_ < kDiskFlushInterval) {
        return;
    }
    lastDiskFlush_ = now;
    if (auto flushed = encoder_.flushToDisk(); !flushed) {
        failEncoding(std::move(flushed.error()));
    }
}

void FfmpegEncodingSession::failEncoding(PlatformError error) {
    {
        const std::lock_guard lock(mutex_);
        error_ = std::move(error);
        setFinalStatusLocked(MediaWriterStatus::failed);
        inputFinished_ = true;
    }
    encoder_.close(); // the partial file stays for the owner to inspect or delete
}

} // namespace veltrane
