#pragma once

#include "devserver/Records.h"

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::devserver {

// The users who can sign in; fixed once the server starts.
class UserDirectory {
public:
    explicit UserDirectory(std::vector<UserRecord> users);

    // Matches the e-mail address without regard to letter case.
    [[nodiscard]] std::optional<UserRecord> findByEmail(const std::string& email) const;
    [[nodiscard]] std::optional<UserRecord> findByID(const std::string& id) const;

private:
    std::vector<UserRecord> users_;
};

// The session tokens handed out by sign-in; safe to use from several threads.
class SessionRegistry {
public:
    [[nodiscard]] Session open(std::string token, std::string sessionID, std::string userID);
    // Counts one authenticated request. Absent when the token is unknown, past its expiry, or has
    // already served the allowed number of requests.
    [[nodiscard]] std::optional<Session> authenticate(const std::string& token);
    // 0 lets tokens serve any number of requests.
    void setExpiresAfterRequests(int requests);

private:
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
    int expiresAfterRequests_ = 0;
};

enum class FlowProblem { unknown, expired };

// The login flows started and not yet completed; safe to use from several threads.
class LoginFlowRegistry {
public:
    explicit LoginFlowRegistry(std::chrono::seconds lifetime);

    // Starts a flow under the given id; flows past their expiry are dropped on the way.
    [[nodiscard]] LoginFlow start(std::string id);
    // A flow that can still be submitted.
    [[nodiscard]] std::expected<LoginFlow, FlowProblem> find(const std::string& id) const;
    // A signed-in flow cannot be submitted again.
    void complete(const std::string& id);

private:
    std::chrono::seconds lifetime_;
    mutable std::mutex mutex_;
    std::map<std::string, LoginFlow> flows_;
};

// Projects and their meetings, in the order they were added; safe to use from several threads.
class ProjectCatalog {
public:
    ProjectCatalog(std::vector<ProjectRecord> projects, std::vector<MeetingRecord> meetings);

    // All projects, or those whose status equals the given one.
    [[nodiscard]] std::vector<ProjectRecord> projects(const std::optional<std::string>& status) const;
    [[nodiscard]] bool hasProject(const std::string& projectId) const;
    // Absent when the project is unknown.
    [[nodiscard]] std::optional<std::vector<MeetingRecord>> meetingsOf(const std::string& projectId) const;
    [[nodiscard]] bool hasMeeting(const std::string& projectId, const std::string& meetingId) const;
    // Adds the meeting to its project; false when the project is unknown.
    [[nodiscard]] bool addMeeting(const MeetingRecord& meeting);

private:
    [[nodiscard]] bool hasProjectLocked(const std::string& projectId) const;

    mutable std::mutex mutex_;
    std::vector<ProjectRecord> projects_;
    std::vector<MeetingRecord> meetings_;
};

// An uploaded file while its bytes arrive: written to a part file and moved to its place only
// once the whole upload has been accepted. A part file that is never committed is removed.
class IncomingFile {
public:
    explicit IncomingFile(std::filesystem::path partPath);
    ~IncomingFile();
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    void write(const char* data, std::size_t size);
    // False once any write has failed.
    [[nodiscard]] bool good() const { return !failed_; }
    [[nodiscard]] std::size_t sizeBytes() const { return sizeBytes_; }
    // Moves the file to the destination, creating its folder and replacing an earlier file.
    [[nodiscard]] bool commitTo(const std::filesystem::path& destination);

private:
    std::filesystem::path partPath_;
    std::ofstream stream_;
    std::size_t sizeBytes_ = 0;
    bool failed_ = false;
    bool committed_ = false;
};

// Where uploaded files are kept: <data>/<project id>/<meeting id or "no-meeting">/<file name>.
// Files being received wait in <data>/.incoming/.
class UploadStore {
public:
    UploadStore(std::filesystem::path dataDir, IDGenerator& ids);

    // Creates the folders; false when that fails.
    [[nodiscard]] bool prepare() const;
    [[nodiscard]] std::unique_ptr<IncomingFile> receive() const;
    [[nodiscard]] std::filesystem::path destination(const std::string& projectId,
                                                    const std::optional<std::string>& meetingId,
                                                    const std::string& fileName) const;
    // A plain name: not empty, no path separator, no "..", no control characters.
    [[nodiscard]] static bool isSafeFileName(std::string_view name);

private:
    std::filesystem::path dataDir_;
    IDGenerator& ids_;
};

// The users, projects and meetings the server starts with.
//
// File form (JSON):
//   {"users": [{"id", "email", "password", "first_name", "last_name", "is_superuser"?}],
//    "projects": [{"id", "name", "status", "description"?, "created_at"?, "updated_at"?,
//                  "meetings"?: [{"id", "name", "scheduled_date"?, "end_date"?, "created_at"?}]}]}
// Identifiers are strings of letters, digits, '.', '_' and '-', not starting with '.' (they name
// upload folders).
struct SeedData {
    std::vector<UserRecord> users;
    std::vector<ProjectRecord> projects;
    std::vector<MeetingRecord> meetings;

    // demo@veltrane.test / demo-password; prj-alpha (two meetings) and prj-beta active, prj-old archived.
    [[nodiscard]] static SeedData demo();
    // The reason on failure names the offending entry.
    [[nodiscard]] static std::expected<SeedData, std::string> fromJson(const nlohmann::json& document);
    [[nodiscard]] static std::expected<SeedData, std::string> load(const std::filesystem::path& file);
};

} // namespace veltrane::devserver
