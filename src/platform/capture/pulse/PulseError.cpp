#include "platform/capture/pulse/PulseError.h"

#include <pulse/def.h>
#include <pulse/error.h>

namespace veltrane {

PlatformError pulseError(int code, std::string description) {
    PlatformError error;
    error.domain = kPulseErrorDomain;
    error.code = code;
    error.localizedDescription = std::move(description);
    return error;
}

PlatformError pulseErrorWithText(int code, const std::string& prefix) {
    if (code == PA_ERR_ACCESS) {
        // Worded so that the recorder shows its permission notice.
        return pulseError(code, prefix + "the sound server refused permission to this program");
    }
    const char* text = pa_strerror(code);
    return pulseError(code, prefix + (text ? text : "Unknown error"));
}

} // namespace veltrane
