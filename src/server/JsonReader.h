#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

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

} // namespace veltrane
