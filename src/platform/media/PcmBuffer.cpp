#include "platform/media/PcmBuffer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace veltrane {

namespace {

constexpr std::uint32_t kPackedFloatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
constexpr std::uint32_t kPackedSignedIntegerFlags =
    kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;

const char* commonFormatName(PcmCommonFormat commonFormat) {
    switch (commonFormat) {
    case PcmCommonFormat::float32:
        return "Float32";
    case PcmCommonFormat::int16:
        return "Int16";
    case PcmCommonFormat::int32:
        return "Int32";
    }
    return "unknown";
}

} // namespace

bool PcmBuffer::Format::isValid() const {
    return std::isfinite(sampleRateHz) && sampleRateHz > 0 && channelCount > 0;
}

std::uint32_t PcmBuffer::Format::bytesPerSample() const {
    return commonFormat == PcmCommonFormat::int16 ? 2 : 4;
}

std::uint32_t PcmBuffer::Format::planeCount() const {
    return interleaved ? 1 : channelCount;
}

std::uint32_t PcmBuffer::Format::bytesPerFramePerPlane() const {
    return interleaved ? bytesPerSample() * channelCount : bytesPerSample();
}

StreamDescription PcmBuffer::Format::streamDescription() const {
    StreamDescription description;
    description.sampleRate = sampleRateHz;
    description.formatID = kAudioFormatLinearPCM;
    description.formatFlags =
        commonFormat == PcmCommonFormat::float32 ? kPackedFloatFlags : kPackedSignedIntegerFlags;
    if (!interleaved) {
        description.formatFlags |= kAudioFormatFlagIsNonInterleaved;
    }
    description.bytesPerFrame = bytesPerFramePerPlane();
    description.bytesPerPacket = description.bytesPerFrame;
    description.framesPerPacket = 1;
    description.channelsPerFrame = channelCount;
    description.bitsPerChannel = bytesPerSample() * 8;
    return description;
}

std::optional<PcmBuffer::Format>
PcmBuffer::Format::fromStreamDescription(const StreamDescription& description) {
    if (description.formatID != kAudioFormatLinearPCM ||
        (description.formatFlags & kAudioFormatFlagIsBigEndian) != 0) {
        return std::nullopt;
    }
    Format format;
    if (description.isFloat() && description.bitsPerChannel == 32) {
        format.commonFormat = PcmCommonFormat::float32;
    } else if (!description.isFloat() && (description.formatFlags & kAudioFormatFlagIsSignedInteger) != 0 &&
               description.bitsPerChannel == 16) {
        format.commonFormat = PcmCommonFormat::int16;
    } else if (!description.isFloat() && (description.formatFlags & kAudioFormatFlagIsSignedInteger) != 0 &&
               description.bitsPerChannel == 32) {
        format.commonFormat = PcmCommonFormat::int32;
    } else {
        return std::nullopt;
    }
    format.sampleRateHz = description.sampleRate;
    format.channelCount = description.channelsPerFrame;
    format.interleaved = !description.isNonInterleaved();
    if (!format.isValid()) {
        return std::nullopt;
    }
    // Samples in wider containers (unpacked 24-in-32 and the like) are not supported.
    if (description.bytesPerFrame != 0 && description.bytesPerFrame != format.bytesPerFramePerPlane()) {
        return std::nullopt;
    }
    return format;
}

std::string PcmBuffer::Format::description() const {
    char rate[64] = {};
    const auto [rateEnd, error] = std::to_chars(rate, rate + sizeof(rate), sampleRateHz);
    const std::string rateText = error == std::errc{} ? std::string(rate, rateEnd) : std::string("?");
    return "<" + std::to_string(channelCount) + " ch, " + rateText + " Hz, " +
           commonFormatName(commonFormat) + ", " + (interleaved ? "interleaved" : "non-interleaved") + ">";
}

PcmBuffer::PcmBuffer(const Format& format, std::uint32_t frameCapacityFrames)
    : format_(format), frameCapacityFrames_(frameCapacityFrames),
      storage_(planeSizeBytes() * format.planeCount()), readBytes_(storage_.data()),
      writeBytes_(storage_.data()) {}

PcmBuffer::PcmBuffer(const Format& format, std::uint32_t frameCapacityFrames, const std::byte* borrowedBytes)
    : format_(format), frameCapacityFrames_(frameCapacityFrames), frameLengthFrames_(frameCapacityFrames),
      readBytes_(borrowedBytes) {}

std::shared_ptr<PcmBuffer> PcmBuffer::make(const Format& format, std::uint32_t frameCapacityFrames) {
    if (!format.isValid() || frameCapacityFrames == 0) {
        return nullptr;
    }
    const std::uint64_t totalBytes = static_cast<std::uint64_t>(frameCapacityFrames) *
                                     format.bytesPerFramePerPlane() * format.planeCount();
    if (totalBytes > std::numeric_limits<std::uint32_t>::max()) {
        return nullptr;
    }
    return std::shared_ptr<PcmBuffer>(new PcmBuffer(format, frameCapacityFrames));
}

std::unique_ptr<const PcmBuffer> PcmBuffer::borrowing(const Format& format,
                                                      std::span<const std::byte> bytes) {
    if (!format.isValid() || bytes.data() == nullptr ||
        reinterpret_cast<std::uintptr_t>(bytes.data()) % format.bytesPerSample() != 0) {
        return nullptr;
    }
    const std::size_t planeBytes = bytes.size() / format.planeCount();
    const std::size_t frames = planeBytes / format.bytesPerFramePerPlane();
    if (frames == 0 || frames > std::numeric_limits<std::uint32_t>::max()) {
        return nullptr;
    }
    return std::unique_ptr<const PcmBuffer>(
        new PcmBuffer(format, static_cast<std::uint32_t>(frames), bytes.data()));
}

void PcmBuffer::setFrameLength(std::uint32_t frameLengthFrames) {
    frameLengthFrames_ = std::min(frameLengthFrames, frameCapacityFrames_);
}

std::size_t PcmBuffer::planeSizeBytes() const {
    return static_cast<std::size_t>(frameCapacityFrames_) * format_.bytesPerFramePerPlane();
}

const std::byte* PcmBuffer::planeData(std::uint32_t plane) const {
    if (plane >= format_.planeCount()) {
        return nullptr;
    }
    return readBytes_ + plane * planeSizeBytes();
}

std::byte* PcmBuffer::mutablePlaneData(std::uint32_t plane) {
    if (writeBytes_ == nullptr || plane >= format_.planeCount()) {
        return nullptr;
    }
    return writeBytes_ + plane * planeSizeBytes();
}

template <typename Sample, PcmCommonFormat Type> const Sample* PcmBuffer::typed(std::uint32_t plane) const {
    if (format_.commonFormat != Type) {
        return nullptr;
    }
    return reinterpret_cast<const Sample*>(planeData(plane));
}

const float* PcmBuffer::floatChannelData(std::uint32_t plane) const {
    return typed<float, PcmCommonFormat::float32>(plane);
}

float* PcmBuffer::floatChannelData(std::uint32_t plane) {
    // Writable only when this buffer owns its storage, so dropping const is sound.
    return writeBytes_ ? const_cast<float*>(std::as_const(*this).floatChannelData(plane)) : nullptr;
}

const std::int16_t* PcmBuffer::int16ChannelData(std::uint32_t plane) const {
    return typed<std::int16_t, PcmCommonFormat::int16>(plane);
}

std::int16_t* PcmBuffer::int16ChannelData(std::uint32_t plane) {
    return writeBytes_ ? const_cast<std::int16_t*>(std::as_const(*this).int16ChannelData(plane)) : nullptr;
}

const std::int32_t* PcmBuffer::int32ChannelData(std::uint32_t plane) const {
    return typed<std::int32_t, PcmCommonFormat::int32>(plane);
}

std::int32_t* PcmBuffer::int32ChannelData(std::uint32_t plane) {
    return writeBytes_ ? const_cast<std::int32_t*>(std::as_const(*this).int32ChannelData(plane)) : nullptr;
}

} // namespace veltrane
