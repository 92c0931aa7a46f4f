// The API's records as the client reads them from answer bodies: any bytes decode or throw
// DecodingError (the only error the API client turns into a decoding failure); decoded records
// survive their own JSON form; the date fields go through the date decoder.
#include "FuzzCheck.h"
#include "server/Records.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

using namespace veltrane;

void decodeDate(const std::optional<std::string>& text) {
    if (!text) {
        return;
    }
    try {
        FUZZ_CHECK(APIDateDecoder::decode(*text).isValid());
    } catch (const DecodingError&) {
    }
}

// decodeJson<T>() in two steps, so that one parse serves every record type.
template <typename T> std::optional<T> decode(const nlohmann::json& json) {
    try {
        return JsonDecode<T>::from(json);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

template <typename Record> void checkRecords(const nlohmann::json& json) {
    if (const auto record = decode<Record>(json)) {
        FUZZ_CHECK(Record::fromJson(record->toJson()) == *record);
        decodeDate(record->createdAt);
    }
    if (const auto records = decode<std::vector<Record>>(json)) {
        for (const Record& record : *records) {
            FUZZ_CHECK(Record::fromJson(record.toJson()) == record);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    decodeDate(std::string(text));
    nlohmann::json json;
    try {
        json = JsonReader::parse(text);
    } catch (const DecodingError&) {
        return 0;
    }
    checkRecords<ProjectResponse>(json);
    checkRecords<MeetingResponse>(json);
    if (const auto profile = decode<UserProfile>(json)) {
        decodeDate(profile->lastLogin);
    }
    return 0;
}
