#pragma once

#include <string_view>

namespace veltrane::devserver {

// Checks of calendar dates written as "yyyy-MM-dd".
class CalendarDate {
public:
    // True for an existing day in exactly that form ("2026-02-29" is not one).
    [[nodiscard]] static bool isValid(std::string_view text);
};

} // namespace veltrane::devserver
