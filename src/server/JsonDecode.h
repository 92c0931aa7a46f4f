#pragma once

#include "server/DecodingError.h"
#include "server/JsonReader.h"

#include <QByteArray>

#include <nlohmann/json.hpp>

#include <vector>

namespace veltrane {

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

} // namespace veltrane
