#pragma once

#include <chrono>
#include <optional>

namespace veltrane {

// Tells when a recording has heard nothing for a while: both meters at zero for the whole of
// `limit`. Fed once per tick with the current levels.
class SilenceWatch {
public:
    static constexpr std::chrono::seconds kDefaultLimit{30};

    explicit SilenceWatch(std::chrono::steady_clock::duration limit = kDefaultLimit) : limit_(limit) {}

    // Returns whether the warning is due.
    [[nodiscard]] bool feed(double systemLevel, double micLevel, std::chrono::steady_clock::time_point now);
    void reset() { silentSince_.reset(); }
    void setLimit(std::chrono::steady_clock::duration limit) { limit_ = limit; }

private:
    std::chrono::steady_clock::duration limit_;
    std::optional<std::chrono::steady_clock::time_point> silentSince_;
};

} // namespace veltrane
