#pragma once

#include <chrono>
#include <string>

namespace veltrane::devserver {

// One started password login: it may be submitted until it expires.
struct LoginFlow {
    std::string id;
    std::chrono::system_clock::time_point issuedAt;
    std::chrono::system_clock::time_point expiresAt;
};

} // namespace veltrane::devserver
