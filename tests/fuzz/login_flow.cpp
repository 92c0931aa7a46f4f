// The identity server's answers during sign-in: any bytes decode as a login flow or a login
// success, or throw DecodingError (the only error sign-in expects from a decoder).
#include "server/Records.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltrane;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // A refused login's body is shown as text when it is UTF-8.
    (void)utf8Text(bytes);
    // decodeJson<T>() in two steps, so that one parse serves both answers.
    nlohmann::json json;
    try {
        json = JsonReader::parse(std::string_view(bytes.constData(), size));
    } catch (const DecodingError&) {
        return 0;
    }
    try {
        (void)JsonDecode<KratosFlow>::from(json).collectedMessages();
    } catch (const DecodingError&) {
    }
    try {
        (void)JsonDecode<KratosLoginSuccess>::from(json);
    } catch (const DecodingError&) {
    }
    return 0;
}
