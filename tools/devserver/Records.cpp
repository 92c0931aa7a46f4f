#include "devserver/Records.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>

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

std::string IsoTime::format(std::chrono::system_clock::time_point time) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(time);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(time - seconds).count();
    const std::time_t whole = std::chrono::system_clock::to_time_t(seconds);
    std::tm utc{};
    gmtime_r(&whole, &utc);
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return text.data();
}

namespace {

constexpr std::string_view kHex = "0123456789abcdef";

} // namespace

IDGenerator::IDGenerator() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    engine_.seed(seed);
}

std::string IDGenerator::hexDigits(std::size_t count) {
    std::uniform_int_distribution<int> digit(0, 15);
    std::string text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(kHex[static_cast<std::size_t>(digit(engine_))]);
    }
    return text;
}

std::string IDGenerator::uuid() {
    std::scoped_lock lock(mutex_);
    std::string digits = hexDigits(32);
    digits[12] = '4';
    digits[16] = kHex[8 + (digits[16] % 4)];
    return digits.substr(0, 8) + '-' + digits.substr(8, 4) + '-' + digits.substr(12, 4) + '-' +
           digits.substr(16, 4) + '-' + digits.substr(20);
}

std::string IDGenerator::token() {
    std::scoped_lock lock(mutex_);
    return hexDigits(64);
}

} // namespace veltrane::devserver
