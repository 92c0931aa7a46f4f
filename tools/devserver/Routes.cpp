#include "devserver/Routes.h"
#include "devserver/FaultInjector.h"
#include "devserver/Records.h"
#include "devserver/WireFormat.h"

#include <nlohmann/json.hpp>

namespace veltrane::devserver {

std::optional<Session> Authenticator::authenticate(const httplib::Request& request) const {
    const auto token = Responses::bearerToken(request);
    if (!token) {
        return std::nullopt;
    }
    return sessions_.authenticate(*token);
}

namespace {

constexpr const char* kMalformedMessage = "The request was malformed or contained invalid parameters.";

// A text member of the submitted form: absent when missing or null, an error when of another type.
[[nodiscard]] bool readText(const nlohmann::json& body, const char* key, std::string& value) {
    if (!body.contains(key) || body.at(key).is_null()) {
        value.clear();
        return true;
    }
    if (!body.at(key).is_string()) {
        return false;
    }
    value = body.at(key).get<std::string>();
    return true;
}

} // namespace

AuthRoutes::AuthRoutes(std::string baseURL, LoginFlowRegistry& flows, SessionRegistry& sessions,
                       const UserDirectory& users, IDGenerator& ids)
    : baseURL_(std::move(baseURL)), flows_(flows), sessions_(sessions), authenticator_(sessions),
      users_(users), ids_(ids) {}

void AuthRoutes::registerOn(httplib::Server& server) {
    server.Get("/self-service/login/api",
               [this](const httplib::Request&, httplib::Response& response) { startFlow(response); });
    server.Post("/self-service/login", [this](const httplib::Request& request, httplib::Response& response) {
        submitFlow(request, response);
    });
    server.Get("/api/v1/auth/me", [this](const httplib::Request& request, httplib::Response& response) {
        currentUser(request, response);
    });
}

void AuthRoutes::startFlow(httplib::Response& response) {
    const LoginFlow flow = flows_.start(ids_.uuid());
    Responses::json(response, 200, LoginFlowDocument(flow, baseURL_).json());
}

void AuthRoutes::submitFlow(const httplib::Request& request, httplib::Response& response) {
    const std::string flowID = request.get_param_value("flow");
    if (flowID.empty()) {
        Responses::identityError(response, 400, "", "The flow query parameter is missing or malformed.",
                                 kMalformedMessage);
        return;
    }
    const auto flow = flows_.find(flowID);
    if (!flow) {
        const bool expired = flow.error() == FlowProblem::expired;
        Responses::identityError(
            response, 410, "self_service_flow_expired",
            expired ? "The login flow has expired. Start a new one."
                    : "The login flow does not exist or was already completed. Start a new one.",
            "self-service flow expired");
        return;
    }

    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    std::string method;
    std::string identifier;
    std::string password;
    if (body.is_discarded() || !body.is_object() || !readText(body, "method", method) ||
        !readText(body, "identifier", identifier) || !readText(body, "password", password)) {
        Responses::identityError(response, 400, "", "The request body is not a JSON object of text fields.",
                                 kMalformedMessage);
        return;
    }

    LoginFlowDocument document(*flow, baseURL_);
    document.setIdentifier(identifier);
    if (method != "password") {
        document.addFlowError(LoginFlowDocument::kUnknownMethodID,
                              "Could not find a strategy to log you in with. Did you fill out the form "
                              "correctly?");
        Responses::json(response, 400, document.json());
        return;
    }
    if (identifier.empty() || password.empty()) {
        if (identifier.empty()) {
            document.addFieldError("identifier", LoginFlowDocument::kMissingPropertyID,
                                   "Property identifier is missing.");
        }
        if (password.empty()) {
            document.addFieldError("password", LoginFlowDocument::kMissingPropertyID,
                                   "Property password is missing.");
        }
        Responses::json(response, 400, document.json());
        return;
    }

    const auto user = users_.findByEmail(identifier);
    if (!user || user->password != password) {
        document.addFlowError(LoginFlowDocument::kInvalidCredentialsID,
                              "The provided credentials are invalid, check for spelling mistakes in your "
                              "password or username, email address, or phone number.");
        Responses::json(response, 400, document.json());
        return;
    }

    flows_.complete(flowID);
    const Session session = sessions_.open(ids_.token(), ids_.uuid(), user->id);
    const nlohmann::json identity = {
        {"id", user->id},
        {"schema_id", "default"},
        {"state", "active"},
        {"traits",
         {{"email", user->email}, {"name", {{"first", user->firstName}, {"last", user->lastName}}}}}};
    Responses::json(response, 200,
                    {{"session_token", session.token},
                     {"session",
                      {{"id", session.id},
                       {"active", true},
                       {"expires_at", IsoTime::format(session.expiresAt)},
                       {"authenticated_at", IsoTime::format(session.authenticatedAt)},
                       {"issued_at", IsoTime::format(session.authenticatedAt)},
                       {"identity", identity}}}});
}

void AuthRoutes::currentUser(const httplib::Request& request, httplib::Response& response) const {
    const auto session = authenticator_.authenticate(request);
    const auto user = session ? users_.findByID(session->userID) : std::nullopt;
    if (!user) {
        Responses::notAuthenticated(response);
        return;
    }
    Responses::json(response, 200, WireFormat::profile(*user, IsoTime::format(session->authenticatedAt)));
}

namespace {

constexpr const char* kMeetingsPath = R"(/api/v1/projects/([^/]+)/meetings)";

[[nodiscard]] bool isBlank(const std::string& text) {
    return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

} // namespace

ProjectRoutes::ProjectRoutes(ProjectCatalog& catalog, const Authenticator& authenticator, IDGenerator& ids)
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

namespace {

constexpr const char* kInjectedFailure = "Injected failure";

// Reads and drops the body of a request that is answered without it, so that the connection can
// carry the answer and later requests.
void drain(const httplib::Request& request, const httplib::ContentReader& reader) {
    const auto discard = [](const char*, std::size_t) { return true; };
    if (request.is_multipart_form_data()) {
        (void)reader([](const httplib::MultipartFormData&) { return true; }, discard);
    } else {
        (void)reader(discard);
    }
}

} // namespace

UploadRoutes::UploadRoutes(const UploadStore& store, const ProjectCatalog& catalog,
                           const Authenticator& authenticator, FaultInjector& faults, RequestLog& log,
                           IDGenerator& ids)
    : store_(store), catalog_(catalog), authenticator_(authenticator), faults_(faults), log_(log), ids_(ids) {
}

void UploadRoutes::registerOn(httplib::Server& server) {
    server.Post("/api/v1/ingestion/upload",
                [this](const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) { upload(request, response, reader); });
}

void UploadRoutes::upload(const httplib::Request& request, httplib::Response& response,
                          const httplib::ContentReader& reader) {
    const UploadFault fault = faults_.drawUploadFault();
    if (fault.kind == UploadFaultKind::closeConnection) {
        drain(request, reader);
        log_.markConnectionClosed(request);
        (void)ConnectionCloser::close(request);
        Responses::text(response, 500, kInjectedFailure);
        return;
    }
    const bool tokenRejected = fault.kind == UploadFaultKind::status && fault.status == 401;
    if (tokenRejected || !authenticator_.authenticate(request)) {
        drain(request, reader);
        Responses::notAuthenticated(response);
        return;
    }
    if (fault.kind == UploadFaultKind::status) {
        drain(request, reader);
        Responses::text(response, fault.status, kInjectedFailure);
        return;
    }
    if (!request.is_multipart_form_data()) {
        drain(request, reader);
        Responses::text(response, 400, "Expected a multipart/form-data body");
        return;
    }

    UploadForm form(store_);
    const bool read =
        reader([&](const httplib::MultipartFormData& part) { return form.onPartHeader(part); },
               [&](const char* data, std::size_t size) { return form.onPartContent(data, size); });
    if (!read) {
        if (response.status == 413) {
            Responses::text(response, 413, "The upload is too large");
        } else {
            Responses::text(response, 400, "Malformed multipart body");
        }
        return;
    }
    store(form, response);
}

void UploadRoutes::store(UploadForm& form, httplib::Response& response) {
    if (const auto problem = form.problem()) {
        Responses::text(response, 400, *problem);
        return;
    }
    const std::string& projectId = form.projectId();
    const auto meetingId = form.meetingId();
    if (!catalog_.hasProject(projectId)) {
        Responses::text(response, 404, "Project not found");
        return;
    }
    if (meetingId && !catalog_.hasMeeting(projectId, *meetingId)) {
        Responses::text(response, 404, "Meeting not found");
        return;
    }
    const std::size_t sizeBytes = form.file().sizeBytes();
    if (!form.file().commitTo(store_.destination(projectId, meetingId, form.fileName()))) {
        Responses::text(response, 500, "The file could not be stored");
        return;
    }
    Responses::json(response, 201,
                    {{"id", ids_.uuid()},
                     {"filename", form.fileName()},
                     {"project_id", projectId},
                     {"meeting_id", meetingId ? nlohmann::json(*meetingId) : nlohmann::json(nullptr)},
                     {"size_bytes", sizeBytes},
                     {"status", "received"},
                     {"received_at", IsoTime::now()}});
}

} // namespace veltrane::devserver
