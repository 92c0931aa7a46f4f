#include "server/UserProfile.h"

#include "server/JsonReader.h"

namespace veltrane {

UserProfile UserProfile::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "UserProfile");
    UserProfile profile;
    profile.id = reader.string("id");
    profile.email = reader.string("email");
    profile.name = reader.optionalString("name");
    profile.isActive = reader.boolean("is_active");
    profile.isSuperuser = reader.boolean("is_superuser");
    profile.lastLogin = reader.optionalString("last_login");
    return profile;
}

} // namespace veltrane
