#include "platform/media/StreamDescription.h"

namespace veltrane {

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

} // namespace veltrane
