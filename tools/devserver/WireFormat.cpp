#include "devserver/WireFormat.h"
#include "devserver/Records.h"

#include <cctype>
#include <stdexcept>

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

namespace {

[[nodiscard]] const char* reasonPhrase(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 410:
        return "Gone";
    case 422:
        return "Unprocessable Entity";
    default:
        return "Error";
    }
}

} // namespace

void Responses::json(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void Responses::text(httplib::Response& response, int status, std::string_view body) {
    response.status = status;
    response.set_content(std::string(body), "text/plain; charset=utf-8");
}

void Responses::notAuthenticated(httplib::Response& response) {
    response.set_header("WWW-Authenticate", "Bearer");
    json(response, 401, {{"detail", "Not authenticated"}});
}

void Responses::identityError(httplib::Response& response, int status, const std::string& errorID,
                              const std::string& reason, const std::string& message) {
    nlohmann::json error = {
        {"code", status}, {"status", reasonPhrase(status)}, {"reason", reason}, {"message", message}};
    if (!errorID.empty()) {
        error["id"] = errorID;
    }
    json(response, status, {{"error", std::move(error)}});
}

std::optional<std::string> Responses::bearerToken(const httplib::Request& request) {
    const std::string header = request.get_header_value("Authorization");
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() <= kScheme.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(header[i])) !=
            std::tolower(static_cast<unsigned char>(kScheme[i]))) {
            return std::nullopt;
        }
    }
    return header.substr(kScheme.size());
}

namespace {

[[nodiscard]] nlohmann::json inputNode(const std::string& group, nlohmann::json attributes) {
    attributes["disabled"] = false;
    attributes["node_type"] = "input";
    return {{"type", "input"},
            {"group", group},
            {"attributes", std::move(attributes)},
            {"messages", nlohmann::json::array()},
            {"meta", nlohmann::json::object()}};
}

[[nodiscard]] nlohmann::json errorMessage(int messageID, const std::string& text) {
    return {{"id", messageID}, {"text", text}, {"type", "error"}, {"context", nlohmann::json::object()}};
}

} // namespace

LoginFlowDocument::LoginFlowDocument(const LoginFlow& flow, const std::string& baseURL) {
    nlohmann::json nodes = nlohmann::json::array();
    nodes.push_back(
        inputNode("default", {{"name", "identifier"}, {"type", "text"}, {"value", ""}, {"required", true}}));
    nodes.push_back(inputNode("password", {{"name", "password"},
                                           {"type", "password"},
                                           {"required", true},
                                           {"autocomplete", "current-password"}}));
    nodes.push_back(inputNode("password", {{"name", "method"}, {"type", "submit"}, {"value", "password"}}));

    document_ = {{"id", flow.id},
                 {"type", "api"},
                 {"expires_at", IsoTime::format(flow.expiresAt)},
                 {"issued_at", IsoTime::format(flow.issuedAt)},
                 {"request_url", baseURL + "/self-service/login/api"},
                 {"refresh", false},
                 {"requested_aal", "aal1"},
                 {"ui",
                  {{"action", baseURL + "/self-service/login?flow=" + flow.id},
                   {"method", "POST"},
                   {"nodes", std::move(nodes)}}}};
}

nlohmann::json& LoginFlowDocument::node(const std::string& fieldName) {
    for (auto& candidate : document_["ui"]["nodes"]) {
        if (candidate["attributes"]["name"] == fieldName) {
            return candidate;
        }
    }
    throw std::invalid_argument("the login flow has no field " + fieldName);
}

void LoginFlowDocument::setIdentifier(const std::string& identifier) {
    node("identifier")["attributes"]["value"] = identifier;
}

void LoginFlowDocument::addFlowError(int messageID, const std::string& text) {
    document_["ui"]["messages"].push_back(errorMessage(messageID, text));
}

void LoginFlowDocument::addFieldError(const std::string& fieldName, int messageID, const std::string& text) {
    node(fieldName)["messages"].push_back(errorMessage(messageID, text));
}

namespace {

constexpr std::size_t kMaxFieldBytes = 1024;

} // namespace

UploadForm::UploadForm(const UploadStore& store) : store_(store) {}

void UploadForm::noteProblem(std::string text) {
    if (!problem_) {
        problem_ = std::move(text);
    }
}

bool UploadForm::onPartHeader(const httplib::MultipartFormData& part) {
    current_ = Part::ignored;
    if (part.name == "project_id" && !projectId_) {
        projectId_.emplace();
        current_ = Part::projectId;
    } else if (part.name == "meeting_id" && !meetingId_) {
        meetingId_.emplace();
        current_ = Part::meetingId;
    } else if (part.name == "file") {
        if (file_) {
            noteProblem("More than one file part");
        } else if (!UploadStore::isSafeFileName(part.filename)) {
            noteProblem("Invalid file name: \"" + part.filename + "\"");
        } else {
            fileName_ = part.filename;
            file_ = store_.receive();
            current_ = Part::file;
        }
    }
    return true;
}

bool UploadForm::onPartContent(const char* data, std::size_t size) {
    auto appendField = [&](std::optional<std::string>& field) {
        if (field->size() + size > kMaxFieldBytes) {
            noteProblem("A form field is too long");
            return;
        }
        field->append(data, size);
    };
    switch (current_) {
    case Part::projectId:
        appendField(projectId_);
        break;
    case Part::meetingId:
        appendField(meetingId_);
        break;
    case Part::file:
        file_->write(data, size);
        break;
    case Part::ignored:
        break;
    }
    return true;
}

std::optional<std::string> UploadForm::problem() const {
    if (problem_) {
        return problem_;
    }
    if (!projectId_ || projectId_->empty()) {
        return "Missing form field: project_id";
    }
    if (!file_) {
        return "Missing file part: file";
    }
    return std::nullopt;
}

std::optional<std::string> UploadForm::meetingId() const {
    if (!meetingId_ || meetingId_->empty()) {
        return std::nullopt;
    }
    return meetingId_;
}

} // namespace veltrane::devserver
