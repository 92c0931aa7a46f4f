#include "platform/encoding/ffmpeg/FfmpegEncoderConfig.h"

#include "platform/media/StreamDescription.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cmath>

namespace veltrane {

namespace {

constexpr int kMaxChannelCount = 2;
constexpr double kMaxSampleRateHz = 384000.0;

bool isUnsetOr(const std::optional<bool>& flag, bool expected) {
    return !flag || *flag == expected;
}

bool encoderSupportsRate(const AVCodec& codec, int sampleRateHz) {
    if (codec.supported_samplerates == nullptr) {
        return true;
    }
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (*rate == sampleRateHz) {
            return true;
        }
    }
    return false;
}

} // namespace

std::expected<FfmpegEncoderConfig, std::string>
FfmpegEncoderConfig::resolve(MediaFileType fileType, const AudioOutputSettings& settings) {
    FfmpegEncoderConfig config;
    if (settings.numberOfChannels < 1 || settings.numberOfChannels > kMaxChannelCount) {
        return std::unexpected("unsupported channel count " + std::to_string(settings.numberOfChannels));
    }
    if (!(settings.sampleRate > 0.0 && settings.sampleRate <= kMaxSampleRateHz) ||
        std::floor(settings.sampleRate) != settings.sampleRate) {
        return std::unexpected("unsupported sample rate " + std::to_string(settings.sampleRate));
    }
    config.channelCount = settings.numberOfChannels;
    config.sampleRateHz = static_cast<int>(settings.sampleRate);

    switch (fileType) {
    case MediaFileType::Wave:
        if (settings.formatID != kAudioFormatLinearPCM) {
            return std::unexpected("WAV files take linear PCM only");
        }
        if (settings.linearPCMBitDepth != 16 || !isUnsetOr(settings.linearPCMIsFloat, false) ||
            !isUnsetOr(settings.linearPCMIsBigEndian, false) ||
            !isUnsetOr(settings.linearPCMIsNonInterleaved, false)) {
            return std::unexpected("WAV files take 16-bit little-endian interleaved integer PCM only");
        }
        config.muxerName = "wav";
        config.encoderName = "pcm_s16le";
        break;
    case MediaFileType::AppleM4A:
        if (settings.formatID != kAudioFormatMPEG4AAC) {
            return std::unexpected("M4A files take AAC only");
        }
        if (!settings.encoderBitRate || *settings.encoderBitRate <= 0) {
            return std::unexpected("AAC needs a positive encoder bit rate");
        }
        config.muxerName = "ipod";
        config.encoderName = "aac";
        config.bitRateBitsPerSecond = *settings.encoderBitRate;
        break;
    default:
        return std::unexpected("unknown container type");
    }

    const AVCodec* codec = avcodec_find_encoder_by_name(config.encoderName.c_str());
    if (codec == nullptr) {
        return std::unexpected("FFmpeg has no " + config.encoderName + " encoder");
    }
    if (!encoderSupportsRate(*codec, config.sampleRateHz)) {
        return std::unexpected(config.encoderName + " does not support " +
                               std::to_string(config.sampleRateHz) + " Hz");
    }
    return config;
}

bool FfmpegEncoderConfig::acceptsBuffer(const SampleBuffer& buffer) const {
    const auto& format = buffer.format();
    if (!format || format->formatID != kAudioFormatLinearPCM || format->isNonInterleaved() ||
        (format->formatFlags & kAudioFormatFlagIsBigEndian) != 0) {
        return false;
    }
    if (format->sampleRate != static_cast<double>(sampleRateHz) ||
        format->channelsPerFrame != static_cast<std::uint32_t>(channelCount)) {
        return false;
    }
    const std::uint32_t bitsPerSample = format->isFloat() ? 32 : 16;
    if (format->bitsPerChannel != bitsPerSample ||
        format->bytesPerFrame != bitsPerSample / 8 * format->channelsPerFrame) {
        return false;
    }
    return buffer.numSamples() >= 0 &&
           static_cast<std::uint64_t>(buffer.numSamples()) <= buffer.data().size() / format->bytesPerFrame;
}

} // namespace veltrane
