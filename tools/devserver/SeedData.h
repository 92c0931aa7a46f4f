#pragma once

#include "devserver/MeetingRecord.h"
#include "devserver/ProjectRecord.h"
#include "devserver/UserRecord.h"

#include <nlohmann/json_fwd.hpp>

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::devserver {

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
