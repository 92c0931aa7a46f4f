#pragma once

#include <cstdint>

namespace veltrane {

// A rational media time stamp: value / timescale seconds, with validity flags and an epoch.
// Times are compared and copied whole; arithmetic never rounds unless the two timescales
// have no common multiple that fits.
struct MediaTime {
    enum Flags : std::uint32_t {
        Valid = 1,
        HasBeenRounded = 2,
        PositiveInfinity = 4,
        NegativeInfinity = 8,
        Indefinite = 16,
    };

    std::int64_t value = 0;
    std::int32_t timescale = 0;
    std::uint32_t flags = 0;
    std::int64_t epoch = 0;

    [[nodiscard]] static constexpr MediaTime invalid() { return MediaTime{}; }
    [[nodiscard]] static constexpr MediaTime make(std::int64_t value, std::int32_t timescale) {
        return MediaTime{value, timescale, timescale > 0 ? std::uint32_t{Valid} : 0u, 0};
    }

    [[nodiscard]] constexpr bool isValid() const { return (flags & Valid) != 0; }
    [[nodiscard]] constexpr bool isNumeric() const {
        return isValid() && (flags & (PositiveInfinity | NegativeInfinity | Indefinite)) == 0 &&
               timescale > 0;
    }

    // Seconds as a double: NaN for an invalid or indefinite time, +/- infinity for the
    // infinite times.
    [[nodiscard]] double seconds() const;

    friend constexpr bool operator==(const MediaTime&, const MediaTime&) = default;
};

// lhs - rhs. Invalid when either operand is invalid; indefinite or infinite operands give
// the matching non-numeric result. Equal timescales subtract exactly; different ones are
// brought to a common timescale (rounded and flagged only when none fits in 32 bits).
[[nodiscard]] MediaTime subtract(const MediaTime& lhs, const MediaTime& rhs);

} // namespace veltrane
