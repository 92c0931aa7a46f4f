#include "devserver/WireFormat.h"

namespace veltrane::devserver {

namespace {

void putOptional(nlohmann::json& object, const char* key, const std::optional<std::string>& value) {
    if (value) {
        object[key] = *value;
    }
}

} // namespace

nlohmann::json WireFormat::project(const ProjectRecord& project) {
    nlohmann::json object = {{"id", project.id}, {"name", project.name}, {"status", project.status}};
    putOptional(object, "description", project.description);
    putOptional(object, "created_at", project.createdAt);
    putOptional(object, "updated_at", project.updatedAt);
    return object;
}

nlohmann::json WireFormat::meeting(const MeetingRecord& meeting) {
    nlohmann::json object = {{"id", meeting.id}, {"project_id", meeting.projectId}, {"name", meeting.name}};
    putOptional(object, "scheduled_date", meeting.scheduledDate);
    putOptional(object, "end_date", meeting.endDate);
    putOptional(object, "created_at", meeting.createdAt);
    return object;
}

nlohmann::json WireFormat::profile(const UserRecord& user, const std::string& lastLogin) {
    std::string name = user.firstName;
    if (!user.lastName.empty()) {
        name += name.empty() ? user.lastName : " " + user.lastName;
    }
    nlohmann::json object = {{"id", user.id},
                             {"email", user.email},
                             {"first_name", user.firstName},
                             {"last_name", user.lastName},
                             {"is_active", true},
                             {"is_superuser", user.isSuperuser},
                             {"last_login", lastLogin}};
    object["name"] = name.empty() ? nlohmann::json(nullptr) : nlohmann::json(name);
    return object;
}

} // namespace veltrane::devserver
