#pragma once

#include <cstdint>
#include <string>

namespace veltrane {

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

} // namespace veltrane
