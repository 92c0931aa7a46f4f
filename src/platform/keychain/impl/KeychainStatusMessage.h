#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veltrane {

// The readable message for a keychain status code, absent for codes without one.
[[nodiscard]] std::optional<std::string> keychainStatusMessage(std::int32_t status);

} // namespace veltrane
