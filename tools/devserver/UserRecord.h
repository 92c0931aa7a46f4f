#pragma once

#include <string>

namespace veltrane::devserver {

// A person who can sign in.
struct UserRecord {
    std::string id;
    std::string email;
    std::string password;
    std::string firstName;
    std::string lastName;
    bool isSuperuser = false;
};

} // namespace veltrane::devserver
