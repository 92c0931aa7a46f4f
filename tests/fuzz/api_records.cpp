// The API's records as the client reads them from answer bodies: any bytes decode or throw
// DecodingError (the only error the API client turns into a decoding failure); decoded records
// survive their own JSON form; the date fields go through the date decoder.
#include "FuzzCheck.h"
#include "server/APIDateDecoder.h"
#include "server/JsonDecode.h"
#include "server/MeetingResponse.h"
#include "server/ProjectResponse.h"
#include "server/UserProfile.h"

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

template <typename T> std::optional<T> decode(const QByteArray& bytes) {
    try {
        return decodeJson<T>(bytes);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

template <typename Record> void checkRecords(const QByteArray& bytes) {
    if (const auto record = decode<Record>(bytes)) {
        FUZZ_CHECK(Record::fromJson(record->toJson()) == *record);
        decodeDate(record->createdAt);
    }
    if (const auto records = decode<std::vector<Record>>(bytes)) {
        for (const Record& record : *records) {
            FUZZ_CHECK(Record::fromJson(record.toJson()) == record);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkRecords<ProjectResponse>(bytes);
    checkRecords<MeetingResponse>(bytes);
    if (const auto profile = decode<UserProfile>(bytes)) {
        decodeDate(profile->lastLogin);
    }
    decodeDate(std::string(bytes.constData(), size));
    return 0;
}
