#pragma once

#include "devserver/Records.h"
#include "devserver/Stores.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane::devserver {

// The JSON shapes of the API's records: snake_case keys, string identifiers, absent optional
// fields left out.
class WireFormat {
public:
    [[nodiscard]] static nlohmann::json project(const ProjectRecord& project);
    [[nodiscard]] static nlohmann::json meeting(const MeetingRecord& meeting);
    // The signed-in user as "/auth/me" reports it.
    [[nodiscard]] static nlohmann::json profile(const UserRecord& user, const std::string& lastLogin);
};

// The answer shapes shared by the routes.
class Responses {
public:
    static void json(httplib::Response& response, int status, const nlohmann::json& body);
    static void text(httplib::Response& response, int status, std::string_view body);
    // 401 with {"detail": "Not authenticated"}.
    static void notAuthenticated(httplib::Response& response);
    // The identity service's error body: {"error": {"id"?, "code", "status", "reason", "message"}}.
    static void identityError(httplib::Response& response, int status, const std::string& errorID,
                              const std::string& reason, const std::string& message);
    // The token of an "Authorization: Bearer <token>" header.
    [[nodiscard]] static std::optional<std::string> bearerToken(const httplib::Request& request);
};

// The JSON form of a login flow: what a client renders and submits, with the messages of a
// rejected submission attached to the flow or to one of its fields.
class LoginFlowDocument {
public:
    static constexpr int kInvalidCredentialsID = 4000006;
    static constexpr int kMissingPropertyID = 4000002;
    static constexpr int kUnknownMethodID = 4010002;

    LoginFlowDocument(const LoginFlow& flow, const std::string& baseURL);

    // The identifier the user typed, shown again in its field.
    void setIdentifier(const std::string& identifier);
    // An error about the whole submission.
    void addFlowError(int messageID, const std::string& text);
    // An error about one field: "identifier" or "password".
    void addFieldError(const std::string& fieldName, int messageID, const std::string& text);

    [[nodiscard]] const nlohmann::json& json() const { return document_; }

private:
    [[nodiscard]] nlohmann::json& node(const std::string& fieldName);

    nlohmann::json document_;
};

// Collects the parts of an upload as the multipart parser delivers them: the text fields
// "project_id" and "meeting_id", and the "file" part, whose bytes go straight to an incoming file.
// Other parts are read and ignored. The first problem found is kept; reading always goes on to
// the end of the body, so that the connection stays usable for the answer.
class UploadForm {
public:
    explicit UploadForm(const UploadStore& store);

    // Feed these two to the request's content reader.
    [[nodiscard]] bool onPartHeader(const httplib::MultipartFormData& part);
    [[nodiscard]] bool onPartContent(const char* data, std::size_t size);

    // What is wrong with the form, as a text for a 400 answer; absent when it is complete.
    [[nodiscard]] std::optional<std::string> problem() const;
    [[nodiscard]] const std::string& projectId() const { return projectId_.value(); }
    // An empty "meeting_id" counts as none.
    [[nodiscard]] std::optional<std::string> meetingId() const;
    [[nodiscard]] const std::string& fileName() const { return fileName_; }
    [[nodiscard]] IncomingFile& file() { return *file_; }

private:
    enum class Part { projectId, meetingId, file, ignored };

    void noteProblem(std::string text);

    const UploadStore& store_;
    Part current_ = Part::ignored;
    std::optional<std::string> projectId_;
    std::optional<std::string> meetingId_;
    std::string fileName_;
    std::unique_ptr<IncomingFile> file_;
    std::optional<std::string> problem_;
};

} // namespace veltrane::devserver
