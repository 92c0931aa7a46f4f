#pragma once

#include <string>

namespace veltrane {

// A fresh random (version 4) UUID in canonical upper-case text form,
// e.g. "3F2504E0-4F89-41D3-9A0C-0305E82C3301".
[[nodiscard]] std::string makeUUIDString();

} // namespace veltrane
