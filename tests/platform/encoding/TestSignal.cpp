#include "platform/encoding/TestSignal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace veltrane::test {

TestSignal::TestSignal(std::int64_t frameCount)
    : frameCount_(frameCount), samples_(static_cast<std::size_t>(frameCount * kChannelCount)) {
    for (std::int64_t frame = 0; frame < frameCount; ++frame) {
        const double t = static_cast<double>(frame) / kSampleRateHz;
        samples_[static_cast<std::size_t>(2 * frame)] =
            static_cast<float>(0.6 * std::sin(2 * std::numbers::pi * 440.0 * t));
        samples_[static_cast<std::size_t>(2 * frame + 1)] =
            static_cast<float>(0.3 * std::sin(2 * std::numbers::pi * 1000.0 * t));
    }
    // Over-range samples must clip, not wrap around.
    for (std::size_t i = 1000; i < std::min<std::size_t>(samples_.size(), 1010); ++i) {
        samples_[i] = (i % 2 == 0) ? 1.5f : -1.5f;
    }
}

std::vector<SampleBufferPtr> TestSignal::floatBuffers(std::int64_t framesPerBuffer,
                                                      double firstPresentationSeconds) const {
    std::vector<SampleBufferPtr> buffers;
    const auto firstFrame = static_cast<std::int64_t>(std::llround(firstPresentationSeconds * kSampleRateHz));
    for (std::int64_t start = 0; start < frameCount_; start += framesPerBuffer) {
        const std::int64_t frames = std::min(framesPerBuffer, frameCount_ - start);
        buffers.push_back(SampleBuffer::fromInterleavedFloats(
            samples_.data() + start * kChannelCount, static_cast<std::size_t>(frames * kChannelCount),
            kChannelCount, kSampleRateHz, MediaTime::make(firstFrame + start, kSampleRateHz)));
    }
    return buffers;
}

std::vector<SampleBufferPtr> TestSignal::int16Buffers(std::int64_t framesPerBuffer) const {
    const std::vector<std::int16_t> pcm = quantised();
    StreamDescription format;
    format.sampleRate = kSampleRateHz;
    format.formatID = kAudioFormatLinearPCM;
    format.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.bytesPerPacket = 2 * kChannelCount;
    format.framesPerPacket = 1;
    format.bytesPerFrame = 2 * kChannelCount;
    format.channelsPerFrame = kChannelCount;
    format.bitsPerChannel = 16;
    std::vector<SampleBufferPtr> buffers;
    for (std::int64_t start = 0; start < frameCount_; start += framesPerBuffer) {
        const std::int64_t frames = std::min(framesPerBuffer, frameCount_ - start);
        std::vector<std::byte> bytes(static_cast<std::size_t>(frames * format.bytesPerFrame));
        std::memcpy(bytes.data(), pcm.data() + start * kChannelCount, bytes.size());
        buffers.push_back(std::make_shared<const SampleBuffer>(format, std::move(bytes), frames,
                                                               MediaTime::make(start, kSampleRateHz)));
    }
    return buffers;
}

std::vector<std::int16_t> TestSignal::quantised() const {
    std::vector<std::int16_t> pcm(samples_.size());
    std::transform(samples_.begin(), samples_.end(), pcm.begin(), [](float sample) {
        return static_cast<std::int16_t>(std::clamp<long>(std::lrintf(sample * 32768.0f), -32768, 32767));
    });
    return pcm;
}

} // namespace veltrane::test
