#pragma once

#include <mutex>
#include <random>
#include <string>

namespace veltrane::devserver {

// Random identifiers and secrets; safe to use from several threads.
class IdGenerator {
public:
    IdGenerator();

    // A version 4 UUID in lower-case canonical form.
    [[nodiscard]] std::string uuid();
    // 64 hexadecimal digits, for session tokens.
    [[nodiscard]] std::string token();

private:
    [[nodiscard]] std::string hexDigits(std::size_t count);

    std::mutex mutex_;
    std::mt19937_64 engine_;
};

} // namespace veltrane::devserver
