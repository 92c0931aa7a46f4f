#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace veltrane {

// Sums the audio of several record streams (the playback streams of one program) into one.
// Each source has a small first-in first-out buffer of interleaved float frames. What is
// taken out is as much as every active source can give, so that their audio lines up; a
// source that has sent nothing for `idleFrames` does not hold the others back (it is quiet:
// paused or closed), nor does one that stalls while the others have buffered more than
// `maxBufferedFrames`.
class SourceMixer {
public:
    SourceMixer(std::uint32_t channels, std::int64_t idleFrames, std::int64_t maxBufferedFrames);

    void addSource(std::uint32_t id, std::int64_t nowFrames);
    // The source delivers no more; what it buffered is still mixed.
    void removeSource(std::uint32_t id);
    [[nodiscard]] bool hasSource(std::uint32_t id) const;
    [[nodiscard]] std::size_t sourceCount() const;

    // Appends `frames` interleaved frames from source `id` (added if unknown).
    void push(std::uint32_t id, const float* samples, std::int64_t frames, std::int64_t nowFrames);

    // The mixed frames that are ready (empty when none); interleaved.
    [[nodiscard]] std::vector<float> pull(std::int64_t nowFrames);
    // Everything buffered, mixed; for the end of a capture.
    [[nodiscard]] std::vector<float> drain();

private:
    struct Source {
        std::vector<float> samples;
        std::int64_t lastPushAtFrames = 0;
        bool removed = false;
    };

    [[nodiscard]] std::int64_t available(const Source& source) const;
    [[nodiscard]] std::vector<float> mix(std::int64_t frames);

    std::uint32_t channels_ = 2;
    std::int64_t idleFrames_ = 0;
    std::int64_t maxBufferedFrames_ = 0;
    std::map<std::uint32_t, Source> sources_;
};

} // namespace veltrane
