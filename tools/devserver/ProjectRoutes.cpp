#include "devserver/ProjectRoutes.h"

#include "devserver/CalendarDate.h"
#include "devserver/IsoTime.h"
#include "devserver/Responses.h"
#include "devserver/WireFormat.h"

#include <nlohmann/json.hpp>

namespace veltrane::devserver {

namespace {

constexpr const char* kMeetingsPath = R"(/api/v1/projects/([^/]+)/meetings)";

[[nodiscard]] bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

} // namespace

ProjectRoutes::ProjectRoutes(ProjectCatalog& catalog, const Authenticator& authenticator, IdGenerator& ids)
    : catalog_(catalog), authenticator_(authenticator), ids_(ids) {}

void ProjectRoutes::registerOn(httplib::Server& server) {
    server.Get("/api/v1/projects", [this](const httplib::Request& request, httplib::Response& response) {
        listProjects(request, response);
    });
    server.Get(kMeetingsPath, [this](const httplib::Request& request, httplib::Response& response) {
        listMeetings(request, response);
    });
    server.Post(kMeetingsPath, [this](const httplib::Request& request, httplib::Response& response) {
        createMeeting(request, response);
    });
}

void ProjectRoutes::listProjects(const httplib::Request& request, httplib::Response& response) const {
    if (!authenticator_.authenticate(request)) {
        Responses::notAuthenticated(response);
        return;
    }
    std::optional<std::string> status;
    if (request.has_param("status")) {
        status = request.get_param_value("status");
    }
    nlohmann::json list = nlohmann::json::array();
    for (const auto& project : catalog_.projects(status)) {
        list.push_back(WireFormat::project(project));
    }
    Responses::json(response, 200, list);
}

void ProjectRoutes::listMeetings(const httplib::Request& request, httplib::Response& response) const {
    if (!authenticator_.authenticate(request)) {
        Responses::notAuthenticated(response);
        return;
    }
    const auto meetings = catalog_.meetingsOf(request.matches[1].str());
    if (!meetings) {
        Responses::text(response, 404, "Project not found");
        return;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const auto& meeting : *meetings) {
        list.push_back(WireFormat::meeting(meeting));
    }
    Responses::json(response, 200, list);
}

void ProjectRoutes::createMeeting(const httplib::Request& request, httplib::Response& response) {
    if (!authenticator_.authenticate(request)) {
        Responses::notAuthenticated(response);
        return;
    }
    const std::string projectId = request.matches[1].str();
    if (!catalog_.hasProject(projectId)) {
        Responses::text(response, 404, "Project not found");
        return;
    }
    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Responses::text(response, 422, "The body must be a JSON object");
        return;
    }
    if (!body.contains("name") || !body["name"].is_string() || isBlank(body["name"].get<std::string>())) {
        Responses::text(response, 422, "name must be a non-empty string");
        return;
    }
    if (!body.contains("scheduled_date") || !body["scheduled_date"].is_string() ||
        !CalendarDate::isValid(body["scheduled_date"].get<std::string>())) {
        Responses::text(response, 422, "scheduled_date must be a date written as yyyy-MM-dd");
        return;
    }
    std::optional<std::string> endDate;
    if (body.contains("end_date") && !body["end_date"].is_null()) {
        if (!body["end_date"].is_string() || !CalendarDate::isValid(body["end_date"].get<std::string>())) {
            Responses::text(response, 422, "end_date must be a date written as yyyy-MM-dd");
            return;
        }
        endDate = body["end_date"].get<std::string>();
    }

    const MeetingRecord meeting{.id = ids_.uuid(),
                                .projectId = projectId,
                                .name = body["name"].get<std::string>(),
                                .scheduledDate = body["scheduled_date"].get<std::string>(),
                                .endDate = endDate,
                                .createdAt = IsoTime::now()};
    if (!catalog_.addMeeting(meeting)) {
        Responses::text(response, 404, "Project not found");
        return;
    }
    Responses::json(response, 201, WireFormat::meeting(meeting));
}

} // namespace veltrane::devserver
