#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace veltrane {

// An error reported by a platform service (sound server, media encoder, file system, ...):
// a domain naming the service, a numeric code, a user-readable description, optionally the
// lower-level error that caused it, and the kind of failure, which callers act on.
struct PlatformError {
    enum class Kind {
        other,
        permissionDenied,  // the service refused this program access
        serverUnavailable, // the service (e.g. the sound server) is not there or went away
        deviceGone,        // the device, or the program, to work with is not there (any more)
        unsupportedFormat, // the service cannot take data in the format asked for
    };

    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;
    std::shared_ptr<const PlatformError> underlying;
    Kind kind = Kind::other;

    // "<domain> <code>: <description>" plus " | underlying <domain> <code>" when present.
    [[nodiscard]] std::string fullDescription() const;
};

// "none" when there is no error, otherwise the error's full description.
[[nodiscard]] std::string describeError(const PlatformError* error);

} // namespace veltrane
