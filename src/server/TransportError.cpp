#include "server/TransportError.h"

namespace veltrane {

TransportError::TransportError(PlatformError error)
    : ServerAccessError(error.localizedDescription), error_(std::move(error)) {}

std::string TransportError::debugDescription() const {
    return "TransportError(" + error_.fullDescription() + ")";
}

} // namespace veltrane
