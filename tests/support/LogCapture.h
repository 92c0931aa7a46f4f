#pragma once

#include <string>

namespace veltrane::test {

// Captures what the code under test logs (every entry, one line each, whatever its level and
// thread) between construction and text(). Only one may be active at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Stops capturing (once) and returns everything captured.
    [[nodiscard]] const std::string& text();
    [[nodiscard]] bool contains(const std::string& needle) {
        return text().find(needle) != std::string::npos;
    }
    [[nodiscard]] std::size_t count(const std::string& needle);

private:
    bool capturing_ = true;
    std::string text_;
};

} // namespace veltrane::test
