#pragma once

#include "platform/media/MediaTime.h"
#include "platform/media/StreamDescription.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace veltrane {

// One buffer of uncompressed audio: the bytes it owns, the format they are in, the number
// of frames and the presentation time of the first frame. Buffers are immutable once made
// and shared between the capture path and the encoder as SampleBufferPtr.
class SampleBuffer {
public:
    SampleBuffer(std::optional<StreamDescription> format, std::vector<std::byte> data,
                 std::int64_t numSamples, MediaTime presentationTime);

    // A buffer of interleaved 32-bit floats copied from `samples`.
    [[nodiscard]] static std::shared_ptr<const SampleBuffer>
    fromInterleavedFloats(const float* samples, std::size_t count, std::uint32_t channels, double sampleRate,
                          MediaTime presentationTime);

    [[nodiscard]] const std::optional<StreamDescription>& format() const { return format_; }
    [[nodiscard]] const std::vector<std::byte>& data() const { return data_; }
    [[nodiscard]] std::int64_t numSamples() const { return numSamples_; }
    [[nodiscard]] const MediaTime& presentationTime() const { return presentationTime_; }

private:
    std::optional<StreamDescription> format_;
    std::vector<std::byte> data_;
    std::int64_t numSamples_ = 0;
    MediaTime presentationTime_ = MediaTime::invalid();
};

using SampleBufferPtr = std::shared_ptr<const SampleBuffer>;

} // namespace veltrane
