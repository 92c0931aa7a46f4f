#pragma once

#include "server/ServerErrors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// `bytes` as text when they are valid UTF-8, absent otherwise.
[[nodiscard]] std::optional<std::string> utf8Text(QByteArrayView bytes);

// Reads the server's date-time values: an internet date-time (RFC 3339) with fractional seconds,
// or without them. Anything else throws DecodingError "Unrecognized date format: <text>".
class APIDateDecoder {
public:
    [[nodiscard]] static QDateTime decode(const std::string& text);
};

// Strict reading of one JSON object into a record: a missing required key or a value of the wrong
// type throws DecodingError; optional keys may be missing or null. Unknown keys are ignored.
class JsonReader {
public:
    // Throws DecodingError when `value` is not a JSON object.
    JsonReader(const nlohmann::json& value, std::string_view recordName);

    [[nodiscard]] std::string string(std::string_view key) const;
    [[nodiscard]] std::optional<std::string> optionalString(std::string_view key) const;
    [[nodiscard]] bool boolean(std::string_view key) const;
    // The value of a required key, of any JSON type.
    [[nodiscard]] const nlohmann::json& required(std::string_view key) const;
    // The value of an optional key; null when the key is missing or null.
    [[nodiscard]] const nlohmann::json* optional(std::string_view key) const;

    // Throws the DecodingError for a value of the wrong type at `key`.
    [[noreturn]] void typeMismatch(std::string_view key, std::string_view expected) const;

    // Parses `bytes` as JSON; throws DecodingError when they are not JSON.
    [[nodiscard]] static nlohmann::json parse(std::string_view bytes);

private:
    const nlohmann::json& object_;
    std::string recordName_;
};

// Decodes a record type (with a static `fromJson(const nlohmann::json&)`) or a list of them.
template <typename T> struct JsonDecode {
    [[nodiscard]] static T from(const nlohmann::json& value) { return T::fromJson(value); }
};

template <typename T> struct JsonDecode<std::vector<T>> {
    [[nodiscard]] static std::vector<T> from(const nlohmann::json& value) {
        if (!value.is_array()) {
            throw DecodingError(std::string("Expected a JSON array, found ") + value.type_name());
        }
        std::vector<T> result;
        result.reserve(value.size());
        for (const nlohmann::json& element : value) {
            result.push_back(JsonDecode<T>::from(element));
        }
        return result;
    }
};

// Parses `bytes` and decodes them as T; throws DecodingError.
template <typename T> [[nodiscard]] T decodeJson(const QByteArray& bytes) {
    return JsonDecode<T>::from(JsonReader::parse(std::string_view(bytes.constData(), bytes.size())));
}

// A project as the server sends it; date-like fields stay the server's strings.
struct ProjectResponse {
    std::string id;
    std::string name;
    std::optional<std::string> description;
    std::string status;
    std::optional<std::string> createdAt;
    std::optional<std::string> updatedAt;

    // Throws DecodingError.
    [[nodiscard]] static ProjectResponse fromJson(const nlohmann::json& value);
    // Absent optional fields are left out.
    [[nodiscard]] nlohmann::json toJson() const;
    [[nodiscard]] bool operator==(const ProjectResponse&) const = default;
};

// A meeting as the server sends it; date-like fields stay the server's strings.
struct MeetingResponse {
    std::string id;
    std::string projectId;
    std::string name;
    std::optional<std::string> scheduledDate;
    std::optional<std::string> endDate;
    std::optional<std::string> createdAt;

    // Throws DecodingError.
    [[nodiscard]] static MeetingResponse fromJson(const nlohmann::json& value);
    // Absent optional fields are left out.
    [[nodiscard]] nlohmann::json toJson() const;
    [[nodiscard]] bool operator==(const MeetingResponse&) const = default;
};

// The body of a meeting creation: dates as local calendar days "yyyy-MM-dd".
struct MeetingCreatePayload {
    std::string name;
    std::string scheduledDate;
    std::optional<std::string> endDate;

    // Formats the instants as the calendar day they fall on in the local time zone.
    [[nodiscard]] static MeetingCreatePayload make(std::string name, const QDateTime& scheduledDate,
                                                   const std::optional<QDateTime>& endDate);
    [[nodiscard]] static std::string localDay(const QDateTime& instant);
    // "end_date" is left out when absent (not written as null).
    [[nodiscard]] nlohmann::json toJson() const;
};

// The signed-in user, as "/auth/me" returns it.
struct UserProfile {
    std::string id;
    std::string email;
    std::optional<std::string> name;
    bool isActive = false;
    bool isSuperuser = false;
    std::optional<std::string> lastLogin;

    // Throws DecodingError.
    [[nodiscard]] static UserProfile fromJson(const nlohmann::json& value);
    [[nodiscard]] bool operator==(const UserProfile&) const = default;
};

// A self-service login flow of the identity server, reduced to what sign-in reads: the flow id
// and the messages attached to the form and to its fields.
struct KratosFlow {
    struct Message {
        std::string text;
        std::optional<std::string> type;
        // The identity server's message number, e.g. 4000006 for rejected credentials.
        std::optional<std::int64_t> id;
    };
    struct Node {
        std::optional<std::vector<Message>> messages;
    };
    struct UI {
        std::optional<std::vector<Message>> messages;
        std::optional<std::vector<Node>> nodes;
    };

    std::string id;
    UI ui;

    // Throws DecodingError.
    [[nodiscard]] static KratosFlow fromJson(const nlohmann::json& value);

    // The form's messages first, then each field's, in order.
    [[nodiscard]] std::vector<Message> collectedMessages() const;
};

// The identity server's answer to an accepted login.
struct KratosLoginSuccess {
    std::string sessionToken;

    // Throws DecodingError.
    [[nodiscard]] static KratosLoginSuccess fromJson(const nlohmann::json& value);
};

} // namespace veltrane
