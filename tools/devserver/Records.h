#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace veltrane::devserver {

// Checks of calendar dates written as "yyyy-MM-dd".
class CalendarDate {
public:
    // True for an existing day in exactly that form ("2026-02-29" is not one).
    [[nodiscard]] static bool isValid(std::string_view text);
};

// ISO 8601 time stamps in UTC with milliseconds, e.g. "2026-12-01T09:30:00.250Z".
class IsoTime {
public:
    [[nodiscard]] static std::string format(std::chrono::system_clock::time_point time);
    [[nodiscard]] static std::string now() { return format(std::chrono::system_clock::now()); }
};

// Random identifiers and secrets; safe to use from several threads.
class IDGenerator {
public:
    IDGenerator();

    // A version 4 UUID in lower-case canonical form.
    [[nodiscard]] std::string uuid();
    // 64 hexadecimal digits, for session tokens.
    [[nodiscard]] std::string token();

private:
    [[nodiscard]] std::string hexDigits(std::size_t count);

    std::mutex mutex_;
    std::mt19937_64 engine_;
};

// A person who can sign in.
struct UserRecord {
    std::string id;
    std::string email;
    std::string password;
    std::string firstName;
    std::string lastName;
    bool isSuperuser = false;
};

struct ProjectRecord {
    std::string id;
    std::string name;
    std::optional<std::string> description;
    // "active" or "archived"; any other text is kept as given.
    std::string status;
    std::optional<std::string> createdAt;
    std::optional<std::string> updatedAt;
};

struct MeetingRecord {
    std::string id;
    std::string projectId;
    std::string name;
    // Calendar dates as "yyyy-MM-dd".
    std::optional<std::string> scheduledDate;
    std::optional<std::string> endDate;
    std::optional<std::string> createdAt;
};

// A signed-in session, found by its bearer token.
struct Session {
    std::string token;
    std::string id;
    std::string userID;
    std::chrono::system_clock::time_point authenticatedAt;
    std::chrono::system_clock::time_point expiresAt;
    // Authenticated requests made with the token so far.
    int requestCount = 0;
};

// One started password login: it may be submitted until it expires.
struct LoginFlow {
    std::string id;
    std::chrono::system_clock::time_point issuedAt;
    std::chrono::system_clock::time_point expiresAt;
};

} // namespace veltrane::devserver
