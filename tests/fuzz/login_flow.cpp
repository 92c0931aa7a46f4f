// The identity server's answers during sign-in: any bytes decode as a login flow or a login
// success, or throw DecodingError (the only error sign-in expects from a decoder).
#include "server/JsonDecode.h"
#include "server/KratosFlow.h"
#include "server/KratosLoginSuccess.h"
#include "server/Utf8Text.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace veltrane;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        (void)decodeJson<KratosFlow>(bytes).collectedMessages();
    } catch (const DecodingError&) {
    }
    try {
        (void)decodeJson<KratosLoginSuccess>(bytes);
    } catch (const DecodingError&) {
    }
    // A refused login's body is shown as text when it is UTF-8.
    (void)utf8Text(bytes);
    return 0;
}
