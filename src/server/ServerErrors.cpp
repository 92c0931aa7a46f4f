#include "server/ServerErrors.h"

#include <QtGlobal>

namespace veltrane {

std::string userDescription(const std::exception& error) {
    if (const auto* serverError = dynamic_cast<const ServerAccessError*>(&error)) {
        return serverError->description();
    }
    return error.what();
}

std::string debugDescription(const std::exception& error) {
    if (const auto* serverError = dynamic_cast<const ServerAccessError*>(&error)) {
        return serverError->debugDescription();
    }
    return std::string("std::exception(") + error.what() + ")";
}

std::string unreachableServerText(const std::string& server, const std::string& cause) {
    return filledMessage(kUnreachableServerMessage,
                         {QString::fromStdString(server), QString::fromStdString(cause)})
        .toStdString();
}

namespace {

std::string transportText(const PlatformError& error, const std::string& server) {
    if (server.empty()) {
        return error.localizedDescription;
    }
    if (error.code == TransportError::kTimeoutCode) {
        return filledMessage(kServerTimeoutMessage, {QString::fromStdString(server)}).toStdString();
    }
    return unreachableServerText(server, error.localizedDescription);
}

} // namespace

TransportError::TransportError(PlatformError error, const std::string& server)
    : ServerAccessError(transportText(error, server)), error_(std::move(error)) {}

std::string TransportError::debugDescription() const {
    return "TransportError(" + error_.fullDescription() + ")";
}

APIError APIError::serverError(std::int32_t statusCode, std::string message) {
    APIError error(Kind::serverError, filledMessage(kServerErrorMessage, {QString::number(statusCode),
                                                                          QString::fromStdString(message)})
                                          .toStdString());
    error.statusCode_ = statusCode;
    error.message_ = std::move(message);
    return error;
}

APIError APIError::networkError(const TransportError& underlying) {
    APIError error(Kind::networkError, underlying.description());
    error.underlying_ = std::make_shared<TransportError>(underlying);
    return error;
}

APIError APIError::decodingError(const DecodingError& underlying) {
    APIError error(Kind::decodingError,
                   filledMessage(kDecodingErrorMessage, {QString::fromStdString(underlying.description())})
                       .toStdString());
    error.underlying_ = std::make_shared<DecodingError>(underlying);
    return error;
}

APIError APIError::notConfigured() {
    return APIError(Kind::notConfigured, QT_TRANSLATE_NOOP("veltrane::Messages", "Server not configured"));
}

APIError APIError::unauthorized() {
    return APIError(Kind::unauthorized, QT_TRANSLATE_NOOP("veltrane::Messages", "Authentication required"));
}

APIError APIError::forbidden() {
    return APIError(Kind::forbidden, QT_TRANSLATE_NOOP("veltrane::Messages", "Access denied"));
}

APIError APIError::notFound() {
    return APIError(Kind::notFound, QT_TRANSLATE_NOOP("veltrane::Messages", "Not found"));
}

std::string APIError::debugDescription() const {
    switch (kind_) {
    case Kind::serverError:
        return "APIError.serverError(statusCode: " + std::to_string(statusCode_) + ", message: \"" +
               message_ + "\")";
    case Kind::networkError:
        return "APIError.networkError(" + underlying_->debugDescription() + ")";
    case Kind::decodingError:
        return "APIError.decodingError(" + underlying_->debugDescription() + ")";
    case Kind::notConfigured:
        return "APIError.notConfigured";
    case Kind::unauthorized:
        return "APIError.unauthorized";
    case Kind::forbidden:
        return "APIError.forbidden";
    case Kind::notFound:
        return "APIError.notFound";
    }
    return "APIError";
}

} // namespace veltrane
