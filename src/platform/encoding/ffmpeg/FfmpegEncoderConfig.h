#pragma once

#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <cstdint>
#include <expected>
#include <string>

namespace veltrane {

// What one writer encodes into: the FFmpeg muxer and encoder and the audio parameters,
// resolved from a container type and the input's output settings.
struct FfmpegEncoderConfig {
    std::string muxerName;
    std::string encoderName;
    int sampleRateHz = 0;
    int channelCount = 0;
    std::int64_t bitRateBitsPerSecond = 0; // 0 for PCM

    // The configuration for `settings` in a `fileType` container, or why it cannot be honoured:
    // WAV takes 16-bit little-endian interleaved integer PCM, M4A takes AAC with a bit rate;
    // one or two channels at a rate the encoder supports.
    [[nodiscard]] static std::expected<FfmpegEncoderConfig, std::string>
    resolve(MediaFileType fileType, const AudioOutputSettings& settings);

    // True when `buffer` holds interleaved 32-bit float or 16-bit integer native-endian PCM at
    // this configuration's rate and channel count, with as many bytes as its frame count needs.
    [[nodiscard]] bool acceptsBuffer(const SampleBuffer& buffer) const;
};

} // namespace veltrane
