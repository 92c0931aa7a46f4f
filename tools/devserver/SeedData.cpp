#include "devserver/SeedData.h"

#include "devserver/CalendarDate.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <set>

namespace veltrane::devserver {

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

[[nodiscard]] bool isSafeId(const std::string& id) {
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
        if (!isSafeId(value)) {
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
