#pragma once

#include "devserver/MeetingRecord.h"
#include "devserver/ProjectRecord.h"
#include "devserver/UserRecord.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

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

} // namespace veltrane::devserver
