#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veltrane {

// Encoder settings for one audio input of a media file writer: the format, channel count and
// rate of the encoded audio, and either the PCM sample layout or the encoder's bit rate.
struct AudioOutputSettings {
    std::uint32_t formatID = 0; // kAudioFormatLinearPCM or kAudioFormatMPEG4AAC
    int numberOfChannels = 2;
    double sampleRate = 48000.0;
    std::optional<int> linearPCMBitDepth;
    std::optional<bool> linearPCMIsFloat;
    std::optional<bool> linearPCMIsBigEndian;
    std::optional<bool> linearPCMIsNonInterleaved;
    std::optional<int> encoderBitRate;

    // 16-bit little-endian interleaved PCM, stereo 48000 Hz.
    [[nodiscard]] static AudioOutputSettings wav16Stereo48k();
    // AAC stereo 48000 Hz at 192000 bit/s.
    [[nodiscard]] static AudioOutputSettings aacStereo48k();

    // Printed form for diagnostics, keys in a fixed order, e.g.
    // "{AVFormatIDKey: lpcm, AVNumberOfChannelsKey: 2, AVSampleRateKey: 48000, ...}".
    [[nodiscard]] std::string describe() const;

    friend bool operator==(const AudioOutputSettings&, const AudioOutputSettings&) = default;
};

} // namespace veltrane
