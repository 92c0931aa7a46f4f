#pragma once

#include <exception>
#include <string>

namespace veltrane {

// Base of every error the server-access code raises. `description()` is the user-readable text a
// screen shows; `debugDescription()` is the fuller text for log lines.
class ServerAccessError : public std::exception {
public:
    [[nodiscard]] const char* what() const noexcept override { return description_.c_str(); }
    [[nodiscard]] const std::string& description() const noexcept { return description_; }
    [[nodiscard]] virtual std::string debugDescription() const = 0;

protected:
    explicit ServerAccessError(std::string description) : description_(std::move(description)) {}

private:
    std::string description_;
};

// The user-readable description of any error: the server-access text when it is one, else what().
[[nodiscard]] std::string userDescription(const std::exception& error);
// The full debug text of any error, for log lines.
[[nodiscard]] std::string debugDescription(const std::exception& error);

} // namespace veltrane
