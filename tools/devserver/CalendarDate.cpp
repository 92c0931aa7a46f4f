#include "devserver/CalendarDate.h"

#include <charconv>
#include <chrono>

namespace veltrane::devserver {

namespace {

[[nodiscard]] bool readNumber(std::string_view digits, int& value) {
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc{} && end == digits.data() + digits.size();
}

} // namespace

bool CalendarDate::isValid(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    int year = 0;
    int month = 0;
    int day = 0;
    if (!readNumber(text.substr(0, 4), year) || !readNumber(text.substr(5, 2), month) ||
        !readNumber(text.substr(8, 2), day)) {
        return false;
    }
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    return date.ok();
}

} // namespace veltrane::devserver
