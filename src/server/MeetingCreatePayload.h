#pragma once

#include <QDateTime>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace veltrane {

// The body of a meeting creation: dates as local calendar days "yyyy-MM-dd".
struct MeetingCreatePayload {
    std::string name;
    std::string scheduledDate;
    std::optional<std::string> endDate;

    // Formats the instants as the calendar day they fall on in the local time zone.
    [[nodiscard]] static MeetingCreatePayload make(std::string name, const QDateTime& scheduledDate,
                                                   const std::optional<QDateTime>& endDate);
    [[nodiscard]] static std::string localDay(const QDateTime& instant);
    // "end_date" is left out when absent (not written as null).
    [[nodiscard]] nlohmann::json toJson() const;
};

} // namespace veltrane
