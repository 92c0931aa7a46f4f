#include "server/JsonReader.h"

#include "server/DecodingError.h"

namespace veltrane {

JsonReader::JsonReader(const nlohmann::json& value, std::string_view recordName)
    : object_(value), recordName_(recordName) {
    if (!object_.is_object()) {
        throw DecodingError("Expected a JSON object for " + recordName_ + ", found " + object_.type_name());
    }
}

const nlohmann::json& JsonReader::required(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end()) {
        throw DecodingError("Missing key \"" + std::string(key) + "\" in " + recordName_);
    }
    return *found;
}

const nlohmann::json* JsonReader::optional(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

void JsonReader::typeMismatch(std::string_view key, std::string_view expected) const {
    const auto found = object_.find(key);
    const std::string actual = found == object_.end() ? "nothing" : found->type_name();
    throw DecodingError("Expected " + std::string(expected) + " for \"" + std::string(key) + "\" in " +
                        recordName_ + ", found " + actual);
}

std::string JsonReader::string(std::string_view key) const {
    const nlohmann::json& value = required(key);
    if (!value.is_string()) {
        typeMismatch(key, "a string");
    }
    return value.get<std::string>();
}

std::optional<std::string> JsonReader::optionalString(std::string_view key) const {
    const nlohmann::json* value = optional(key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        typeMismatch(key, "a string");
    }
    return value->get<std::string>();
}

bool JsonReader::boolean(std::string_view key) const {
    const nlohmann::json& value = required(key);
    if (!value.is_boolean()) {
        typeMismatch(key, "a boolean");
    }
    return value.get<bool>();
}

nlohmann::json JsonReader::parse(std::string_view bytes) {
    try {
        return nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::exception& error) {
        // Besides syntax errors the parser throws out_of_range for a number beyond double range.
        throw DecodingError(std::string("The data is not valid JSON: ") + error.what());
    }
}

} // namespace veltrane
