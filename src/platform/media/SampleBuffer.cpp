#include "platform/media/SampleBuffer.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace veltrane {

double MediaTime::seconds() const {
    if (!isValid() || (flags & kIndefinite) != 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if ((flags & kPositiveInfinity) != 0) {
        return std::numeric_limits<double>::infinity();
    }
    if ((flags & kNegativeInfinity) != 0) {
        return -std::numeric_limits<double>::infinity();
    }
    if (timescale <= 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(value) / static_cast<double>(timescale);
}

namespace {

constexpr std::uint32_t kNonNumeric =
    MediaTime::kPositiveInfinity | MediaTime::kNegativeInfinity | MediaTime::kIndefinite;

MediaTime special(std::uint32_t flag) {
    return MediaTime{0, 0, MediaTime::kValid | flag, 0};
}

// value * (to / from) rounded to nearest; reports rounding through `rounded`.
std::int64_t rescale(std::int64_t value, std::int64_t from, std::int64_t to, bool& rounded) {
    const __int128 scaled = static_cast<__int128>(value) * to;
    const __int128 quotient = scaled / from;
    const __int128 remainder = scaled % from;
    if (remainder != 0) {
        rounded = true;
        const __int128 twice = remainder < 0 ? -2 * remainder : 2 * remainder;
        if (twice >= from) {
            return static_cast<std::int64_t>(quotient + (scaled < 0 ? -1 : 1));
        }
    }
    return static_cast<std::int64_t>(quotient);
}

} // namespace

MediaTime subtract(const MediaTime& lhs, const MediaTime& rhs) {
    if (!lhs.isValid() || !rhs.isValid()) {
        return MediaTime::invalid();
    }
    const std::uint32_t lhsSpecial = lhs.flags & kNonNumeric;
    const std::uint32_t rhsSpecial = rhs.flags & kNonNumeric;
    if (lhsSpecial != 0 || rhsSpecial != 0) {
        if ((lhsSpecial | rhsSpecial) & MediaTime::kIndefinite) {
            return special(MediaTime::kIndefinite);
        }
        if (lhsSpecial != 0 && rhsSpecial != 0 && lhsSpecial == rhsSpecial) {
            return special(MediaTime::kIndefinite); // inf - inf
        }
        if (lhsSpecial != 0) {
            return special(lhsSpecial);
        }
        return special(rhsSpecial == MediaTime::kPositiveInfinity ? MediaTime::kNegativeInfinity
                                                                  : MediaTime::kPositiveInfinity);
    }
    if (lhs.timescale <= 0 || rhs.timescale <= 0) {
        return MediaTime::invalid();
    }
    std::uint32_t carried = (lhs.flags | rhs.flags) & MediaTime::kHasBeenRounded;
    if (lhs.timescale == rhs.timescale) {
        return MediaTime{lhs.value - rhs.value, lhs.timescale, MediaTime::kValid | carried, 0};
    }
    const std::int64_t common = std::lcm<std::int64_t>(lhs.timescale, rhs.timescale);
    const std::int64_t target =
        common <= std::numeric_limits<std::int32_t>::max() ? common : std::max(lhs.timescale, rhs.timescale);
    bool rounded = false;
    const std::int64_t a = rescale(lhs.value, lhs.timescale, target, rounded);
    const std::int64_t b = rescale(rhs.value, rhs.timescale, target, rounded);
    if (rounded) {
        carried |= MediaTime::kHasBeenRounded;
    }
    return MediaTime{a - b, static_cast<std::int32_t>(target), MediaTime::kValid | carried, 0};
}

StreamDescription StreamDescription::interleavedFloat(double sampleRate, std::uint32_t channels) {
    StreamDescription description;
    description.sampleRate = sampleRate;
    description.formatID = kAudioFormatLinearPCM;
    description.formatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
    description.bytesPerPacket = 4 * channels;
    description.framesPerPacket = 1;
    description.bytesPerFrame = 4 * channels;
    description.channelsPerFrame = channels;
    description.bitsPerChannel = 32;
    return description;
}

std::string fourCharCodeText(std::uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    }
    return text;
}

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
