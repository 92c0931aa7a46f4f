#include "platform/capture/pulse/PulseError.h"

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
    const char* text = pa_strerror(code);
    return pulseError(code, prefix + (text ? text : "Unknown error"));
}

} // namespace veltrane
