#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace veltrane {

// Keeps a capture's presentation times continuous and tied to wall-clock time. The sound
// server sends nothing while a device is suspended or a program is quiet; the pacer then asks
// for silence so that the stream still lasts as long as the wall clock says.
//
// All quantities are frames: `nowFrames` is the monotonic time elapsed since the capture
// started, in frames of the stream's rate. Real audio is always taken as it comes (it is
// never dropped to make room for silence). Silence is due only once no real audio has come
// for `allowanceFrames` and the stream lags the wall clock by more than that; it then fills
// up to `lagFrames` behind the wall clock, until real audio comes again.
class SilencePacer {
public:
    SilencePacer(std::int64_t allowanceFrames, std::int64_t lagFrames);

    // Real audio of `frames` frames arrived; returns its presentation time (value).
    [[nodiscard]] std::int64_t takeReal(std::int64_t frames, std::int64_t nowFrames);

    // How many frames of silence to deliver now (0 when none is due).
    [[nodiscard]] std::int64_t silenceDue(std::int64_t nowFrames);

    // Silence of `frames` frames is delivered; returns its presentation time (value).
    [[nodiscard]] std::int64_t takeSilence(std::int64_t frames);

    [[nodiscard]] std::int64_t emittedFrames() const { return emittedFrames_; }
    [[nodiscard]] bool isFilling() const { return filling_; }

private:
    std::int64_t allowanceFrames_ = 0;
    std::int64_t lagFrames_ = 0;
    std::int64_t emittedFrames_ = 0;
    std::int64_t lastRealAtFrames_ = 0;
    bool filling_ = false;
};

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
