#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace veltrane {

// Mono microphone samples at the session rate waiting to be mixed into system audio, oldest
// first. The one lock shared between the microphone intake, the mixer and the stop clean-up;
// it is held only for counting, copying and removing.
//
// Takes hand samples out only once a lead is queued: at first, and again after a take found
// fewer samples than it asked for (the queue ran dry). System audio comes in bursts and the
// microphone in blocks of its own rhythm; without a lead a burst that comes just before the next
// microphone block empties the queue and the rest of the burst gets silence instead of voice.
// Mixing starts with exactly the lead queued (older samples are dropped), so the lead is all the
// delay it adds; a refill after running dry drops nothing.
class MicrophoneSampleQueue {
public:
    // What must be queued before takes hand out samples: at least `minimumSamples`, and
    // `beyondLargestBlockSamples` more than the largest block appended so far, so that a
    // microphone delivering in large blocks still has a whole burst queued between two blocks.
    // (0: blocks do not count). Never more than the bound of the last append.
    struct Lead {
        std::size_t minimumSamples = 0;
        std::size_t beyondLargestBlockSamples = 0;
    };

    MicrophoneSampleQueue() = default;
    explicit MicrophoneSampleQueue(Lead lead) : lead_(lead) {}

    [[nodiscard]] std::size_t size() const;

    // True when the next take hands out samples: the queue is being drained, or holds the lead.
    [[nodiscard]] bool isMixing() const;

    // True when a take of `count` would hand out samples but run dry: the microphone is being
    // mixed and its samples for that much audio have not all come yet.
    [[nodiscard]] bool lacksSamplesFor(std::size_t count) const;

    // Moves up to `maxCount` of the oldest samples into `out` (replacing its contents) and
    // returns the number of samples still queued afterwards. Moves none while the lead is not
    // queued; a take that finds fewer than `maxCount` moves what there is, counts as an
    // underrun and waits for the lead again.
    std::size_t take(std::size_t maxCount, std::vector<float>& out);

    // Underruns since the queue was made or last cleared.
    [[nodiscard]] std::int64_t underruns() const;

    // Samples the bound dropped since mixing started (they never reach the mix).
    [[nodiscard]] std::int64_t droppedSamples() const;

    // Appends samples with a bound of `boundSamples`: while the queue holds no more than the
    // bound, samples are appended as they come (so it may exceed the bound by one buffer);
    // once it holds more, the oldest are dropped first so that exactly the bound remains after
    // the append. A single buffer of the bound's size or more replaces the whole queue with
    // its newest `boundSamples` samples, so the queue never grows without limit.
    void append(std::span<const float> samples, std::size_t boundSamples);

    // The lead as it stands (it grows with the largest block).
    [[nodiscard]] std::size_t leadSamples() const;

    // Empties the queue, forgets the blocks seen, waits for the lead again and starts the counts
    // of underruns and dropped samples over.
    void clear();

private:
    [[nodiscard]] bool isMixingLocked() const;
    [[nodiscard]] std::size_t leadLocked() const;

    const Lead lead_{};
    mutable std::mutex mutex_;
    std::deque<float> samples_;
    std::size_t largestBlockSamples_ = 0;
    std::size_t boundSamples_ = 0; // of the last append
    bool started_ = false;         // mixing has started since the queue was made or cleared
    bool draining_ = false;        // the lead was reached and the queue has not run dry since
    std::int64_t underruns_ = 0;
    std::int64_t droppedSamples_ = 0;
};

} // namespace veltrane
