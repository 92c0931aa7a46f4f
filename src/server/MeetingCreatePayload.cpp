#include "server/MeetingCreatePayload.h"

#include <QLocale>

namespace veltrane {

MeetingCreatePayload MeetingCreatePayload::make(std::string name, const QDateTime& scheduledDate,
                                                const std::optional<QDateTime>& endDate) {
    MeetingCreatePayload payload;
    payload.name = std::move(name);
    payload.scheduledDate = localDay(scheduledDate);
    if (endDate) {
        payload.endDate = localDay(*endDate);
    }
    return payload;
}

std::string MeetingCreatePayload::localDay(const QDateTime& instant) {
    return QLocale::c().toString(instant.toLocalTime().date(), QStringLiteral("yyyy-MM-dd")).toStdString();
}

nlohmann::json MeetingCreatePayload::toJson() const {
    nlohmann::json json = {{"name", name}, {"scheduled_date", scheduledDate}};
    if (endDate) {
        json["end_date"] = *endDate;
    }
    return json;
}

} // namespace veltrane
