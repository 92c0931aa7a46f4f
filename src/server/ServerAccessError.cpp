#include "server/ServerAccessError.h"

namespace veltrane {

std::string userDescription(const std::exception& error) {
    if (const auto* serverError = dynamic_cast<const ServerAccessError*>(&error)) {
        return serverError->description();
    }
    return error.what();
}

std::string debugDescription(const std::exception& error) {
    if (const auto* serverError = dynamic_cast<const ServerAccessError*>(&error)) {
        return serverError->debugDescription();
    }
    return std::string("std::exception(") + error.what() + ")";
}

} // namespace veltrane
