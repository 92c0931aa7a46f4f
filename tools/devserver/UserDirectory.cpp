#include "devserver/UserDirectory.h"

#include <algorithm>
#include <cctype>

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

std::optional<UserRecord> UserDirectory::findById(const std::string& id) const {
    const auto found = std::ranges::find(users_, id, &UserRecord::id);
    return found == users_.end() ? std::nullopt : std::optional(*found);
}

} // namespace veltrane::devserver
