#include "server/KratosLoginSuccess.h"

#include "server/JsonReader.h"

namespace veltrane {

KratosLoginSuccess KratosLoginSuccess::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "KratosLoginSuccess");
    return KratosLoginSuccess{reader.string("session_token")};
}

} // namespace veltrane
