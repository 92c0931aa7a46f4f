#pragma once

#include <chrono>
#include <string>

namespace veltrane::devserver {

// ISO 8601 time stamps in UTC with milliseconds, e.g. "2026-12-01T09:30:00.250Z".
class IsoTime {
public:
    [[nodiscard]] static std::string format(std::chrono::system_clock::time_point time);
    [[nodiscard]] static std::string now() { return format(std::chrono::system_clock::now()); }
};

} // namespace veltrane::devserver
