#include "platform/encoding/AudioOutputSettings.h"

#include "platform/media/SampleBuffer.h"

#include <sstream>

namespace veltrane {

AudioOutputSettings AudioOutputSettings::wav16Stereo48k() {
    AudioOutputSettings settings;
    settings.formatID = kAudioFormatLinearPCM;
    settings.linearPCMBitDepth = 16;
    settings.linearPCMIsFloat = false;
    settings.linearPCMIsBigEndian = false;
    settings.linearPCMIsNonInterleaved = false;
    return settings;
}

AudioOutputSettings AudioOutputSettings::aacStereo48k() {
    AudioOutputSettings settings;
    settings.formatID = kAudioFormatMPEG4AAC;
    settings.encoderBitRate = 192000;
    return settings;
}

std::string AudioOutputSettings::describe() const {
    std::ostringstream out;
    out << "{AVFormatIDKey: " << fourCharCodeText(formatID) << ", AVNumberOfChannelsKey: " << numberOfChannels
        << ", AVSampleRateKey: " << sampleRate;
    const auto flag = [&out](const char* key, const std::optional<bool>& value) {
        if (value) {
            out << ", " << key << ": " << (*value ? "true" : "false");
        }
    };
    if (linearPCMBitDepth) {
        out << ", AVLinearPCMBitDepthKey: " << *linearPCMBitDepth;
    }
    flag("AVLinearPCMIsFloatKey", linearPCMIsFloat);
    flag("AVLinearPCMIsBigEndianKey", linearPCMIsBigEndian);
    flag("AVLinearPCMIsNonInterleaved", linearPCMIsNonInterleaved);
    if (encoderBitRate) {
        out << ", AVEncoderBitRateKey: " << *encoderBitRate;
    }
    out << "}";
    return out.str();
}

} // namespace veltrane
