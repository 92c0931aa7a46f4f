#include "devserver/IdGenerator.h"

namespace veltrane::devserver {

namespace {

constexpr std::string_view kHex = "0123456789abcdef";

} // namespace

IdGenerator::IdGenerator() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    engine_.seed(seed);
}

std::string IdGenerator::hexDigits(std::size_t count) {
    std::uniform_int_distribution<int> digit(0, 15);
    std::string text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(kHex[static_cast<std::size_t>(digit(engine_))]);
    }
    return text;
}

std::string IdGenerator::uuid() {
    std::scoped_lock lock(mutex_);
    std::string digits = hexDigits(32);
    digits[12] = '4';
    digits[16] = kHex[8 + (digits[16] % 4)];
    return digits.substr(0, 8) + '-' + digits.substr(8, 4) + '-' + digits.substr(12, 4) + '-' +
           digits.substr(16, 4) + '-' + digits.substr(20);
}

std::string IdGenerator::token() {
    std::scoped_lock lock(mutex_);
    return hexDigits(64);
}

} // namespace veltrane::devserver
