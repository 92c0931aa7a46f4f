#include "platform/core/PlatformError.h"

namespace veltrane {

std::string PlatformError::fullDescription() const {
    std::string text = domain + " " + std::to_string(code) + ": " + localizedDescription;
    if (underlying) {
        text += " | underlying " + underlying->domain + " " + std::to_string(underlying->code);
    }
    return text;
}

std::string describeError(const PlatformError* error) {
    return error ? error->fullDescription() : "none";
}

} // namespace veltrane
