#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace veltrane {

// Mono microphone samples at the session rate waiting to be mixed into system audio, oldest
// first. The one lock shared between the microphone intake, the mixer and the stop clean-up;
// it is held only for counting, copying and removing.
class MicrophoneSampleQueue {
public:
    [[nodiscard]] std::size_t size() const;

    // Moves up to `maxCount` of the oldest samples into `out` (replacing its contents) and
    // returns the number of samples still queued afterwards.
    std::size_t take(std::size_t maxCount, std::vector<float>& out);

    // Appends samples with a bound of `boundSamples`: while the queue holds no more than the
    // bound, samples are appended as they come (so it may exceed the bound by one buffer);
    // once it holds more, the oldest are dropped first so that exactly the bound remains after
    // the append. A single buffer of the bound's size or more replaces the whole queue with
    // its newest `boundSamples` samples, so the queue never grows without limit.
    void append(std::span<const float> samples, std::size_t boundSamples);

    void clear();

private:
    mutable std::mutex mutex_;
    std::deque<float> samples_;
};

} // namespace veltrane
