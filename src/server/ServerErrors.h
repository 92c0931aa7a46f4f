#pragma once

#include "platform/core/Messages.h"
#include "platform/core/PlatformError.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <memory>
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
// How every screen says that no answer came from a server ("host" or "host:port"): "Couldn't
// reach the server at example.org (Connection refused)."
[[nodiscard]] std::string unreachableServerText(const std::string& server, const std::string& cause);

// The fixed texts of the messages the services put together from parts. The message is written,
// stored and logged in English; where it is shown, shownMessage() (app/Translations.h) finds its
// template again and shows it in the locale's language, with each part shown in turn.
inline constexpr const char* kUnreachableServerMessage =
    QT_TRANSLATE_NOOP("veltrane::Messages", "Couldn't reach the server at %1 (%2).");
inline constexpr const char* kServerTimeoutMessage =
    QT_TRANSLATE_NOOP("veltrane::Messages", "The server at %1 did not answer in time.");
inline constexpr const char* kServerErrorMessage =
    QT_TRANSLATE_NOOP("veltrane::Messages", "Server error (%1): %2");
inline constexpr const char* kDecodingErrorMessage =
    QT_TRANSLATE_NOOP("veltrane::Messages", "Decoding error: %1");

// A request that got no HTTP answer: no connection, time-out, TLS failure, refused by the
// transport policy, cancelled. With the server's address ("host" or "host:port") the description
// names it in the words every screen shows: "Couldn't reach the server at example.org (Connection
// refused)." or "The server at example.org did not answer in time."; without, it is the
// platform's own text.
class TransportError : public ServerAccessError {
public:
    static constexpr std::int64_t kTimeoutCode = 4; // QNetworkReply::TimeoutError

    explicit TransportError(PlatformError error, const std::string& server = {});

    [[nodiscard]] const PlatformError& platformError() const noexcept { return error_; }
    [[nodiscard]] std::string debugDescription() const override;

private:
    PlatformError error_;
};

// JSON that is not what a record expects: not JSON at all, a missing required key, a value of the
// wrong type, an unreadable date.
class DecodingError : public ServerAccessError {
public:
    explicit DecodingError(std::string description) : ServerAccessError(std::move(description)) {}

    [[nodiscard]] std::string debugDescription() const override {
        return "DecodingError(" + description() + ")";
    }
};

class DecodingError;
class TransportError;

// The error of every call of the server's JSON API.
class APIError : public ServerAccessError {
public:
    enum class Kind {
        serverError,
        networkError,
        decodingError,
        notConfigured,
        unauthorized,
        forbidden,
        notFound
    };

    [[nodiscard]] static APIError serverError(std::int32_t statusCode, std::string message);
    // Described by the transport error's own words, so a failure to reach the server reads the same
    // on every screen.
    [[nodiscard]] static APIError networkError(const TransportError& underlying);
    [[nodiscard]] static APIError decodingError(const DecodingError& underlying);
    [[nodiscard]] static APIError notConfigured();
    [[nodiscard]] static APIError unauthorized();
    [[nodiscard]] static APIError forbidden();
    [[nodiscard]] static APIError notFound();

    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    // Only meaningful for serverError.
    [[nodiscard]] std::int32_t statusCode() const noexcept { return statusCode_; }
    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    // The transport or decoding error a networkError / decodingError carries, else null.
    [[nodiscard]] const std::shared_ptr<const ServerAccessError>& underlying() const noexcept {
        return underlying_;
    }

    [[nodiscard]] std::string debugDescription() const override;

private:
    APIError(Kind kind, std::string description) : ServerAccessError(std::move(description)), kind_(kind) {}

    Kind kind_ = Kind::notConfigured;
    std::int32_t statusCode_ = 0;
    std::string message_;
    std::shared_ptr<const ServerAccessError> underlying_;
};

// A sign-in failure whose message is shown to the user as it is.
class LoginError : public ServerAccessError {
public:
    explicit LoginError(std::string message) : ServerAccessError(std::move(message)) {}

    [[nodiscard]] const std::string& message() const noexcept { return description(); }
    [[nodiscard]] std::string debugDescription() const override { return "LoginError(" + message() + ")"; }
};

} // namespace veltrane
