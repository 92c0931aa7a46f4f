#include "platform/media/SampleBuffer.h"

#include <cstring>

namespace veltrane {

SampleBuffer::SampleBuffer(std::optional<StreamDescription> format, std::vector<std::byte> data,
                           std::int64_t numSamples, MediaTime presentationTime)
    : format_(std::move(format)), data_(std::move(data)), numSamples_(numSamples),
      presentationTime_(presentationTime) {}

SampleBufferPtr SampleBuffer::fromInterleavedFloats(const float* samples, std::size_t count,
                                                    std::uint32_t channels, double sampleRate,
                                                    MediaTime presentationTime) {
    std::vector<std::byte> bytes(count * sizeof(float));
    if (count > 0) {
        std::memcpy(bytes.data(), samples, bytes.size());
    }
    const std::int64_t frames = channels > 0 ? static_cast<std::int64_t>(count / channels) : 0;
    return std::make_shared<const SampleBuffer>(StreamDescription::interleavedFloat(sampleRate, channels),
                                                std::move(bytes), frames, presentationTime);
}

} // namespace veltrane
