#include "devserver/Stores.h"
#include "devserver/Records.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>

namespace veltrane::devserver {

namespace {

[[nodiscard]] bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

} // namespace

UserDirectory::UserDirectory(std::vector<UserRecord> users) : users_(std::move(users)) {}

std::optional<UserRecord> UserDirectory::findByEmail(const std::string& email) const {
    const auto found = std::ranges::find_if(
        users_, [&](const UserRecord& user) { return equalIgnoringCase(user.email, email); });
    return found == users_.end() ? std::nullopt : std::optional(*found);
}

std::optional<UserRecord> UserDirectory::findByID(const std::string& id) const {
    const auto found = std::ranges::find(users_, id, &UserRecord::id);
    return found == users_.end() ? std::nullopt : std::optional(*found);
}

namespace {

constexpr auto kSessionLifetime = std::chrono::hours(24);

} // namespace

Session SessionRegistry::open(std::string token, std::string sessionID, std::string userID) {
    const auto now = std::chrono::system_clock::now();
    Session session{.token = std::move(token),
                    .id = std::move(sessionID),
                    .userID = std::move(userID),
                    .authenticatedAt = now,
                    .expiresAt = now + kSessionLifetime};
    std::scoped_lock lock(mutex_);
    sessions_[session.token] = session;
    return session;
}

std::optional<Session> SessionRegistry::authenticate(const std::string& token) {
    std::scoped_lock lock(mutex_);
    const auto found = sessions_.find(token);
    if (found == sessions_.end() || found->second.expiresAt <= std::chrono::system_clock::now()) {
        return std::nullopt;
    }
    Session& session = found->second;
    if (expiresAfterRequests_ > 0 && session.requestCount >= expiresAfterRequests_) {
        return std::nullopt;
    }
    ++session.requestCount;
    return session;
}

void SessionRegistry::setExpiresAfterRequests(int requests) {
    std::scoped_lock lock(mutex_);
    expiresAfterRequests_ = requests;
}

LoginFlowRegistry::LoginFlowRegistry(std::chrono::seconds lifetime) : lifetime_(lifetime) {}

LoginFlow LoginFlowRegistry::start(std::string id) {
    const auto now = std::chrono::system_clock::now();
    LoginFlow flow{.id = std::move(id), .issuedAt = now, .expiresAt = now + lifetime_};
    std::scoped_lock lock(mutex_);
    std::erase_if(flows_, [&](const auto& entry) { return entry.second.expiresAt <= now; });
    flows_[flow.id] = flow;
    return flow;
}

std::expected<LoginFlow, FlowProblem> LoginFlowRegistry::find(const std::string& id) const {
    std::scoped_lock lock(mutex_);
    const auto found = flows_.find(id);
    if (found == flows_.end()) {
        return std::unexpected(FlowProblem::unknown);
    }
    if (found->second.expiresAt <= std::chrono::system_clock::now()) {
        return std::unexpected(FlowProblem::expired);
    }
    return found->second;
}

void LoginFlowRegistry::complete(const std::string& id) {
    std::scoped_lock lock(mutex_);
    flows_.erase(id);
}

ProjectCatalog::ProjectCatalog(std::vector<ProjectRecord> projects, std::vector<MeetingRecord> meetings)
    : projects_(std::move(projects)), meetings_(std::move(meetings)) {}

std::vector<ProjectRecord> ProjectCatalog::projects(const std::optional<std::string>& status) const {
    std::scoped_lock lock(mutex_);
    std::vector<ProjectRecord> result;
    std::ranges::copy_if(projects_, std::back_inserter(result),
                         [&](const ProjectRecord& project) { return !status || project.status == *status; });
    return result;
}

bool ProjectCatalog::hasProject(const std::string& projectId) const {
    std::scoped_lock lock(mutex_);
    return hasProjectLocked(projectId);
}

bool ProjectCatalog::hasProjectLocked(const std::string& projectId) const {
    return std::ranges::find(projects_, projectId, &ProjectRecord::id) != projects_.end();
}

std::optional<std::vector<MeetingRecord>> ProjectCatalog::meetingsOf(const std::string& projectId) const {
    std::scoped_lock lock(mutex_);
    if (!hasProjectLocked(projectId)) {
        return std::nullopt;
    }
    std::vector<MeetingRecord> result;
    std::ranges::copy_if(meetings_, std::back_inserter(result),
                         [&](const MeetingRecord& meeting) { return meeting.projectId == projectId; });
    return result;
}

bool ProjectCatalog::hasMeeting(const std::string& projectId, const std::string& meetingId) const {
    std::scoped_lock lock(mutex_);
    return std::ranges::any_of(meetings_, [&](const MeetingRecord& meeting) {
        return meeting.id == meetingId && meeting.projectId == projectId;
    });
}

bool ProjectCatalog::addMeeting(const MeetingRecord& meeting) {
    std::scoped_lock lock(mutex_);
    if (!hasProjectLocked(meeting.projectId)) {
        return false;
    }
    meetings_.push_back(meeting);
    return true;
}

IncomingFile::IncomingFile(std::filesystem::path partPath)
    : partPath_(std::move(partPath)), stream_(partPath_, std::ios::binary | std::ios::trunc) {
    failed_ = !stream_.is_open();
}

IncomingFile::~IncomingFile() {
    if (!committed_) {
        stream_.close();
        std::error_code ignored;
        std::filesystem::remove(partPath_, ignored);
    }
}

void IncomingFile::write(const char* data, std::size_t size) {
    if (failed_) {
        return;
    }
    stream_.write(data, static_cast<std::streamsize>(size));
    failed_ = !stream_.good();
    sizeBytes_ += size;
}

bool IncomingFile::commitTo(const std::filesystem::path& destination) {
    stream_.close();
    if (failed_ || stream_.fail()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(destination.parent_path(), error);
    if (error) {
        return false;
    }
    std::filesystem::rename(partPath_, destination, error);
    committed_ = !error;
    return committed_;
}

namespace {

constexpr const char* kIncomingFolder = ".incoming";
constexpr const char* kNoMeetingFolder = "no-meeting";
constexpr std::size_t kMaxFileNameBytes = 255;

} // namespace

UploadStore::UploadStore(std::filesystem::path dataDir, IDGenerator& ids)
    : dataDir_(std::move(dataDir)), ids_(ids) {}

bool UploadStore::prepare() const {
    std::error_code error;
    const std::filesystem::path incoming = dataDir_ / kIncomingFolder;
    std::filesystem::create_directories(incoming, error);
    if (error) {
        return false;
    }
    // Part files of uploads cut off when an earlier run of the server ended mid-transfer.
    std::vector<std::filesystem::path> leftovers;
    for (std::filesystem::directory_iterator it(incoming, error), end; !error && it != end;
         it.increment(error)) {
        leftovers.push_back(it->path());
    }
    for (const std::filesystem::path& leftover : leftovers) {
        std::error_code ignored;
        std::filesystem::remove(leftover, ignored);
    }
    return true;
}

std::unique_ptr<IncomingFile> UploadStore::receive() const {
    return std::make_unique<IncomingFile>(dataDir_ / kIncomingFolder / (ids_.uuid() + ".part"));
}

std::filesystem::path UploadStore::destination(const std::string& projectId,
                                               const std::optional<std::string>& meetingId,
                                               const std::string& fileName) const {
    return dataDir_ / projectId / meetingId.value_or(kNoMeetingFolder) / fileName;
}

bool UploadStore::isSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > kMaxFileNameBytes || name == "." ||
        name.find("..") != std::string_view::npos) {
        return false;
    }
    return std::ranges::none_of(name, [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

namespace {

constexpr const char* kDemoSeed = R"json({
  "users": [
    {"id": "usr-demo", "email": "demo@veltrane.test", "password": "demo-password",
     "first_name": "Demo", "last_name": "User"}
  ],
  "projects": [
    {"id": "prj-alpha", "name": "Alpha Research", "status": "active",
     "description": "Interviews and working sessions of the Alpha research track.",
     "created_at": "2026-01-05T09:00:00Z", "updated_at": "2026-03-02T14:30:00Z",
     "meetings": [
       {"id": "mtg-alpha-kickoff", "name": "Kickoff", "scheduled_date": "2026-12-01",
        "created_at": "2026-01-05T09:05:00Z"},
       {"id": "mtg-alpha-weekly", "name": "Weekly sync", "scheduled_date": "2026-12-08",
        "created_at": "2026-01-05T09:06:00Z"}
     ]},
    {"id": "prj-beta", "name": "Beta Launch", "status": "active",
     "created_at": "2026-02-10T10:00:00Z"},
    {"id": "prj-old", "name": "Old Archive", "status": "archived",
     "description": "Finished work, kept for reference.",
     "created_at": "2024-06-01T08:00:00Z", "updated_at": "2025-01-15T16:45:00Z"}
  ]
})json";

[[nodiscard]] bool isSafeID(const std::string& id) {
    if (id.empty() || id.front() == '.' || id.size() > 200) {
        return false;
    }
    for (const char c : id) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             c == '.' || c == '_' || c == '-';
        if (!allowed) {
            return false;
        }
    }
    return true;
}

// Reads the seed document; throws std::runtime_error or nlohmann::json::exception with a reason.
class SeedReader {
public:
    [[nodiscard]] SeedData read(const nlohmann::json& document) {
        if (!document.is_object()) {
            throw std::runtime_error("the seed must be a JSON object");
        }
        for (const auto& user : document.value("users", nlohmann::json::array())) {
            readUser(user);
        }
        for (const auto& project : document.value("projects", nlohmann::json::array())) {
            readProject(project);
        }
        return std::move(data_);
    }

private:
    [[nodiscard]] static std::optional<std::string> optionalText(const nlohmann::json& object,
                                                                 const char* key) {
        if (!object.contains(key) || object.at(key).is_null()) {
            return std::nullopt;
        }
        return object.at(key).get<std::string>();
    }

    [[nodiscard]] static std::string id(const nlohmann::json& object, const char* what) {
        const auto value = object.at("id").get<std::string>();
        if (!isSafeID(value)) {
            throw std::runtime_error(std::string(what) + " id \"" + value + "\" is not a safe folder name");
        }
        return value;
    }

    [[nodiscard]] static std::optional<std::string> date(const nlohmann::json& object, const char* key,
                                                         const std::string& owner) {
        auto value = optionalText(object, key);
        if (value && !CalendarDate::isValid(*value)) {
            throw std::runtime_error(owner + ": " + key + " \"" + *value + "\" is not a yyyy-MM-dd date");
        }
        return value;
    }

    void readUser(const nlohmann::json& object) {
        UserRecord user{.id = id(object, "user"),
                        .email = object.at("email").get<std::string>(),
                        .password = object.at("password").get<std::string>(),
                        .firstName = object.value("first_name", std::string()),
                        .lastName = object.value("last_name", std::string()),
                        .isSuperuser = object.value("is_superuser", false)};
        if (!userIds_.insert(user.id).second || !emails_.insert(user.email).second) {
            throw std::runtime_error("user \"" + user.id + "\" repeats an id or an email");
        }
        data_.users.push_back(std::move(user));
    }

    void readProject(const nlohmann::json& object) {
        ProjectRecord project{.id = id(object, "project"),
                              .name = object.at("name").get<std::string>(),
                              .description = optionalText(object, "description"),
                              .status = object.at("status").get<std::string>(),
                              .createdAt = optionalText(object, "created_at"),
                              .updatedAt = optionalText(object, "updated_at")};
        if (!projectIds_.insert(project.id).second) {
            throw std::runtime_error("project id \"" + project.id + "\" appears twice");
        }
        for (const auto& meeting : object.value("meetings", nlohmann::json::array())) {
            readMeeting(meeting, project.id);
        }
        data_.projects.push_back(std::move(project));
    }

    void readMeeting(const nlohmann::json& object, const std::string& projectId) {
        const std::string meetingId = id(object, "meeting");
        MeetingRecord meeting{.id = meetingId,
                              .projectId = projectId,
                              .name = object.at("name").get<std::string>(),
                              .scheduledDate = date(object, "scheduled_date", "meeting " + meetingId),
                              .endDate = date(object, "end_date", "meeting " + meetingId),
                              .createdAt = optionalText(object, "created_at")};
        if (!meetingIds_.insert(meeting.id).second) {
            throw std::runtime_error("meeting id \"" + meeting.id + "\" appears twice");
        }
        data_.meetings.push_back(std::move(meeting));
    }

    SeedData data_;
    std::set<std::string> userIds_;
    std::set<std::string> emails_;
    std::set<std::string> projectIds_;
    std::set<std::string> meetingIds_;
};

} // namespace

SeedData SeedData::demo() {
    return *fromJson(nlohmann::json::parse(kDemoSeed));
}

std::expected<SeedData, std::string> SeedData::fromJson(const nlohmann::json& document) {
    try {
        return SeedReader().read(document);
    } catch (const std::exception& error) {
        return std::unexpected(std::string("invalid seed data: ") + error.what());
    }
}

std::expected<SeedData, std::string> SeedData::load(const std::filesystem::path& file) {
    std::ifstream stream(file);
    if (!stream) {
        return std::unexpected("cannot read seed file " + file.string());
    }
    const auto document = nlohmann::json::parse(stream, nullptr, false);
    if (document.is_discarded()) {
        return std::unexpected("seed file " + file.string() + " is not valid JSON");
    }
    return fromJson(document);
}

} // namespace veltrane::devserver
