#pragma once

#include "server/Records.h"
#include "server/ServerErrors.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>

#include <nlohmann/json.hpp>

#include <optional>

namespace veltrane {

class AuthManager;
class CredentialStore;
class HttpTransport;
class ServerConfiguration;

// The one way into the server's JSON API: forms the URL under the API base URL, attaches the stored
// session token, maps the HTTP status to APIError and, on a 401, re-validates the session and repeats
// the call once. Main thread only; calls are independent and may overlap.
class APIClient : public QObject {
    Q_OBJECT

public:
    // The collaborators must outlive the client.
    APIClient(const ServerConfiguration& serverConfig, AuthManager& authManager,
              const CredentialStore& credentials, HttpTransport& transport, QObject* parent = nullptr);

    // `path` begins with "/" and may carry an already encoded query after "?". Returns the body of
    // a successful answer. Throws APIError.
    [[nodiscard]] QCoro::Task<QByteArray> send(QString path, QByteArray method,
                                               std::optional<nlohmann::json> body = std::nullopt);

    // send() and decode the answer as T (a record or a std::vector of records); a decoding failure
    // becomes APIError::decodingError.
    template <typename T>
    [[nodiscard]] QCoro::Task<T> request(QString path, QByteArray method,
                                         std::optional<nlohmann::json> body = std::nullopt) {
        const QByteArray bytes = co_await send(std::move(path), std::move(method), std::move(body));
        co_return decode<T>(bytes);
    }

    template <typename T> [[nodiscard]] static T decode(const QByteArray& bytes) {
        try {
            return decodeJson<T>(bytes);
        } catch (const DecodingError& error) {
            throw APIError::decodingError(error);
        }
    }

    // The URL of a call: `path` under `apiBaseURL`, its query (if any) kept as a query.
    [[nodiscard]] static QUrl callURL(const QUrl& apiBaseURL, const QString& path);
    // Success for 2xx (and for an answer without HTTP status); otherwise the matching APIError.
    static void validateResponse(int statusCode, const QByteArray& body);

private:
    const ServerConfiguration& serverConfig_;
    AuthManager& authManager_;
    const CredentialStore& credentials_;
    HttpTransport& transport_;
};

} // namespace veltrane
