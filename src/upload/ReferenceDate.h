#pragma once

#include <chrono>
#include <compare>

namespace veltrane {

// A moment in time as the queue file stores it: seconds (with fraction) since
// 2001-01-01 00:00:00 UTC. Kept as the double itself so that a value read from the file is
// written back unchanged.
struct ReferenceDate {
    double secondsSinceReferenceDate = 0.0;

    // Seconds between 1970-01-01 and 2001-01-01, both UTC.
    static constexpr double unixSecondsAtReferenceDate = 978307200.0;

    [[nodiscard]] static ReferenceDate fromSystemTime(std::chrono::system_clock::time_point time);
    [[nodiscard]] ReferenceDate addingSeconds(double seconds) const {
        return ReferenceDate{secondsSinceReferenceDate + seconds};
    }
    [[nodiscard]] double secondsSince(ReferenceDate earlier) const {
        return secondsSinceReferenceDate - earlier.secondsSinceReferenceDate;
    }

    auto operator<=>(const ReferenceDate&) const = default;
};

} // namespace veltrane
