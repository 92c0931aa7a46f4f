#pragma once

#include <cstdint>

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

} // namespace veltrane
