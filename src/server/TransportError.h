#pragma once

#include "platform/core/PlatformError.h"
#include "server/ServerAccessError.h"

namespace veltrane {

// A request that got no HTTP answer: no connection, time-out, TLS failure, refused by the
// transport policy, cancelled. The description is the platform's own text.
class TransportError : public ServerAccessError {
public:
    explicit TransportError(PlatformError error);

    [[nodiscard]] const PlatformError& platformError() const noexcept { return error_; }
    [[nodiscard]] std::string debugDescription() const override;

private:
    PlatformError error_;
};

} // namespace veltrane
