#pragma once

#include "devserver/UserRecord.h"

#include <optional>
#include <string>
#include <vector>

namespace veltrane::devserver {

// The users who can sign in; fixed once the server starts.
class UserDirectory {
public:
    explicit UserDirectory(std::vector<UserRecord> users);

    // Matches the e-mail address without regard to letter case.
    [[nodiscard]] std::optional<UserRecord> findByEmail(const std::string& email) const;
    [[nodiscard]] std::optional<UserRecord> findById(const std::string& id) const;

private:
    std::vector<UserRecord> users_;
};

} // namespace veltrane::devserver
