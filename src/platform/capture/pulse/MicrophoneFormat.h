#pragma once

#include "platform/media/SampleBuffer.h"

#include <cstdint>
#include <string_view>

namespace veltrane {

// The sample layout in which a microphone is recorded: as close to the device's own format
// as the buffers can describe (little-endian, interleaved, packed).
struct MicrophoneFormat {
    enum class Encoding { int16, int32, float32 };

    Encoding encoding = Encoding::float32;
    StreamDescription description;

    // `deviceFormat` is the sound server's name of the device's sample format ("s16le",
    // "float32le", "s24le", ...): 16-bit devices record as 16-bit integers, 24- and 32-bit
    // integer devices as 32-bit integers, everything else as 32-bit float.
    [[nodiscard]] static MicrophoneFormat forDevice(std::string_view deviceFormat, std::uint32_t sampleRate,
                                                    std::uint32_t channels);

    [[nodiscard]] std::uint32_t bytesPerSample() const { return description.bitsPerChannel / 8; }
};

} // namespace veltrane
