#include "platform/encoding/ffmpeg/FfmpegError.h"

extern "C" {
#include <libavutil/error.h>
}

#include <array>
#include <string>

namespace veltrane {

PlatformError makeFfmpegError(int averror, std::string_view context) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(averror, text.data(), text.size()) < 0) {
        text.fill('\0');
    }
    std::string description(context);
    if (text[0] != '\0') {
        description += ": ";
        description += text.data();
    }
    return PlatformError{std::string(kFfmpegErrorDomain), averror, std::move(description), nullptr};
}

} // namespace veltrane
