#include "server/MeetingResponse.h"

#include "server/JsonReader.h"

namespace veltrane {

MeetingResponse MeetingResponse::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "MeetingResponse");
    MeetingResponse meeting;
    meeting.id = reader.string("id");
    meeting.projectId = reader.string("project_id");
    meeting.name = reader.string("name");
    meeting.scheduledDate = reader.optionalString("scheduled_date");
    meeting.endDate = reader.optionalString("end_date");
    meeting.createdAt = reader.optionalString("created_at");
    return meeting;
}

nlohmann::json MeetingResponse::toJson() const {
    nlohmann::json json = {{"id", id}, {"project_id", projectId}, {"name", name}};
    if (scheduledDate) {
        json["scheduled_date"] = *scheduledDate;
    }
    if (endDate) {
        json["end_date"] = *endDate;
    }
    if (createdAt) {
        json["created_at"] = *createdAt;
    }
    return json;
}

} // namespace veltrane
