#pragma once

#include "server/ServerAccessError.h"

namespace veltrane {

// JSON that is not what a record expects: not JSON at all, a missing required key, a value of the
// wrong type, an unreadable date.
class DecodingError : public ServerAccessError {
public:
    explicit DecodingError(std::string description) : ServerAccessError(std::move(description)) {}

    [[nodiscard]] std::string debugDescription() const override {
        return "DecodingError(" + description() + ")";
    }
};

} // namespace veltrane
