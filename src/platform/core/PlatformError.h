#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace veltrane {

// An error reported by a platform service (sound server, media encoder, file system, ...):
// a domain naming the service, a numeric code, a user-readable description and optionally
// the lower-level error that caused it.
struct PlatformError {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
    std::shared_ptr<const PlatformError> underlying;

    // "<domain> <code>: <description>" plus " | underlying <domain> <code>" when present.
    [[nodiscard]] std::string fullDescription() const;
};

// "none" when there is no error, otherwise the error's full description.
[[nodiscard]] std::string describeError(const PlatformError* error);

} // namespace veltrane
