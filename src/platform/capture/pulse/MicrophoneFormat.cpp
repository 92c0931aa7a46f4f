#include "platform/capture/pulse/MicrophoneFormat.h"

namespace veltrane {

namespace {

MicrophoneFormat::Encoding encodingFor(std::string_view deviceFormat) {
    if (deviceFormat == "s16le" || deviceFormat == "s16be") {
        return MicrophoneFormat::Encoding::int16;
    }
    if (deviceFormat == "s32le" || deviceFormat == "s32be" || deviceFormat == "s24le" ||
        deviceFormat == "s24be" || deviceFormat == "s24-32le" || deviceFormat == "s24-32be") {
        return MicrophoneFormat::Encoding::int32;
    }
    return MicrophoneFormat::Encoding::float32;
}

} // namespace

MicrophoneFormat MicrophoneFormat::forDevice(std::string_view deviceFormat, std::uint32_t sampleRate,
                                             std::uint32_t channels) {
    MicrophoneFormat format;
    format.encoding = encodingFor(deviceFormat);
    StreamDescription& d = format.description;
    d.sampleRate = sampleRate;
    d.formatID = kAudioFormatLinearPCM;
    d.channelsPerFrame = channels;
    d.framesPerPacket = 1;
    switch (format.encoding) {
    case Encoding::int16:
        d.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        d.bitsPerChannel = 16;
        break;
    case Encoding::int32:
        d.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        d.bitsPerChannel = 32;
        break;
    case Encoding::float32:
        d.formatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
        d.bitsPerChannel = 32;
        break;
    }
    d.bytesPerFrame = d.bitsPerChannel / 8 * channels;
    d.bytesPerPacket = d.bytesPerFrame;
    return format;
}

} // namespace veltrane
