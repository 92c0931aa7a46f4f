#pragma once

#include "server/ServerAccessError.h"

#include <cstdint>
#include <memory>

namespace veltrane {

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

} // namespace veltrane
