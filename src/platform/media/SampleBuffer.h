#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

// A rational media time stamp: value / timescale seconds, with validity flags and an epoch.
// Times are compared and copied whole; arithmetic never rounds unless the two timescales
// have no common multiple that fits.
struct MediaTime {
    enum Flags : std::uint32_t {
        kValid = 1,
        kHasBeenRounded = 2,
        kPositiveInfinity = 4,
        kNegativeInfinity = 8,
        kIndefinite = 16,
    };

    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;
    std::int64_t epoch = 0;

    [[nodiscard]] static constexpr MediaTime invalid() { return MediaTime{}; }
    [[nodiscard]] static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return MediaTime{value, timescale, timescale > 0 ? std::uint32_t{kValid} : 0u, 0};
    }

    [[nodiscard]] constexpr bool isValid() const { return (flags & kValid) != 0; }
    [[nodiscard]] constexpr bool isNumeric() const {
        return isValid() && (flags & (kPositiveInfinity | kNegativeInfinity | kIndefinite)) == 0 &&
               timescale > 0;
    }

    // Seconds as a double: NaN for an invalid or indefinite time, +/- infinity for the
    // infinite times.
    [[nodiscard]] double seconds() const;

    friend constexpr bool operator==(const MediaTime&, const MediaTime&) = default;
};

// lhs - rhs. Invalid when either operand is invalid; indefinite or infinite operands give
// the matching non-numeric result. Equal timescales subtract exactly; different ones are
// brought to a common timescale (rounded and flagged only when none fits in 32 bits).
[[nodiscard]] MediaTime subtract(const MediaTime& lhs, const MediaTime& rhs);

// Four-character codes of the audio formats the project handles.
constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}
constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
constexpr std::uint32_t kAudioFormatMPEG4AAC = fourCharCode("aac ");

// Format flag bits of a linear PCM stream description.
enum AudioFormatFlag : std::uint32_t {
    kAudioFormatFlagIsFloat = 1,
    kAudioFormatFlagIsBigEndian = 2,
    kAudioFormatFlagIsSignedInteger = 4,
    kAudioFormatFlagIsPacked = 8,
    kAudioFormatFlagIsNonInterleaved = 32,
};

// Describes the layout of uncompressed audio in a sample buffer.
struct StreamDescription {
    double sampleRate = 0;
    std::uint32_t formatID = 0;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerPacket = 0;
    std::uint32_t framesPerPacket = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;
    std::uint32_t reserved = 0;

    [[nodiscard]] bool isFloat() const { return (formatFlags & kAudioFormatFlagIsFloat) != 0; }
    [[nodiscard]] bool isNonInterleaved() const {
        return (formatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
    }

    // Interleaved packed 32-bit float at the given rate and channel count (flags 9).
    [[nodiscard]] static StreamDescription interleavedFloat(double sampleRate, std::uint32_t channels);

    friend bool operator==(const StreamDescription&, const StreamDescription&) = default;
};

// Text form of a four-character code, e.g. "lpcm".
[[nodiscard]] std::string fourCharCodeText(std::uint32_t code);

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
