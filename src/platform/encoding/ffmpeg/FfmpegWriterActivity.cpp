#include "platform/encoding/ffmpeg/FfmpegWriterActivity.h"

namespace veltrane {

void FfmpegWriterActivity::threadStarted() {
    const std::lock_guard lock(mutex_);
    ++running_;
}

void FfmpegWriterActivity::threadEnded() {
    const std::lock_guard lock(mutex_);
    if (--running_ == 0) {
        idle_.notify_all();
    }
}

bool FfmpegWriterActivity::waitUntilIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return running_ == 0; });
}

int FfmpegWriterActivity::runningThreads() const {
    const std::lock_guard lock(mutex_);
    return running_;
}

} // namespace veltrane
