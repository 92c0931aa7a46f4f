#include "server/ProjectResponse.h"

#include "server/JsonReader.h"

namespace veltrane {

ProjectResponse ProjectResponse::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "ProjectResponse");
    ProjectResponse project;
    project.id = reader.string("id");
    project.name = reader.string("name");
    project.description = reader.optionalString("description");
    project.status = reader.string("status");
    project.createdAt = reader.optionalString("created_at");
    project.updatedAt = reader.optionalString("updated_at");
    return project;
}

nlohmann::json ProjectResponse::toJson() const {
    nlohmann::json json = {{"id", id}, {"name", name}, {"status", status}};
    if (description) {
        json["description"] = *description;
    }
    if (createdAt) {
        json["created_at"] = *createdAt;
    }
    if (updatedAt) {
        json["updated_at"] = *updatedAt;
    }
    return json;
}

} // namespace veltrane
