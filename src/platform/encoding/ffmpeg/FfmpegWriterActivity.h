#pragma once

#include <chrono>
#include <condition_variable>
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

} // namespace veltrane
