#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace veltrane {

// Counts the chunk finalisations of one writer that are still in flight and tells waiters when
// the last one has ended. Shared between the writer and its finalisations, which end on
// media-writer completion threads.
class FinalizationTracker {
public:
    void begin();
    // Ends one finalisation; when none is left, runs the waiting callbacks on this thread.
    void end();
    // Runs `callback` once no finalisation is in flight: at once (on this thread) when none
    // is, otherwise on the thread that ends the last one.
    void whenIdle(std::function<void()> callback);

private:
    std::mutex mutex_;
    int pending_ = 0;
    std::vector<std::function<void()>> waiting_;
};

} // namespace veltrane
