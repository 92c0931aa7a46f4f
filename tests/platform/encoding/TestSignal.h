#pragma once

#include "platform/media/SampleBuffer.h"

#include <cstdint>
#include <vector>

namespace veltrane::test {

// A stereo test signal: a sine on the left, a different sine on the right, with a few
// samples beyond full scale so that clipping is exercised.
class TestSignal {
public:
    static constexpr int kSampleRateHz = 48000;
    static constexpr int kChannelCount = 2;

    explicit TestSignal(std::int64_t frameCount);

    [[nodiscard]] std::int64_t frameCount() const { return frameCount_; }
    [[nodiscard]] const std::vector<float>& samples() const { return samples_; }

    // The signal cut into interleaved-float buffers of `framesPerBuffer` frames (the last one
    // may be shorter), the first presented at `firstPresentationSeconds`.
    [[nodiscard]] std::vector<SampleBufferPtr> floatBuffers(std::int64_t framesPerBuffer,
                                                            double firstPresentationSeconds = 0.0) const;
    // The same as interleaved 16-bit integer buffers.
    [[nodiscard]] std::vector<SampleBufferPtr> int16Buffers(std::int64_t framesPerBuffer) const;

    // Each sample as 16-bit PCM: scaled by 32768, rounded to nearest and clipped.
    [[nodiscard]] std::vector<std::int16_t> quantised() const;

private:
    std::int64_t frameCount_ = 0;
    std::vector<float> samples_;
};

} // namespace veltrane::test
