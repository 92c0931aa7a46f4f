#include "server/APIClient.h"

#include "server/AuthManager.h"
#include "server/CredentialStore.h"
#include "server/HttpTransport.h"
#include "server/Records.h"
#include "server/ServerConfiguration.h"
#include "server/ServerErrors.h"

#include <QPointer>

namespace veltrane {

namespace {

[[nodiscard]] QByteArray bearer(const std::string& token) {
    return QByteArray("Bearer ") + QByteArray::fromStdString(token);
}

} // namespace

APIClient::APIClient(const ServerConfiguration& serverConfig, AuthManager& authManager,
                     const CredentialStore& credentials, HttpTransport& transport, QObject* parent)
    : QObject(parent), serverConfig_(serverConfig), authManager_(authManager), credentials_(credentials),
      transport_(transport) {}

QUrl APIClient::callURL(const QUrl& apiBaseURL, const QString& path) {
    const qsizetype question = path.indexOf('?');
    if (question < 0) {
        return ServerConfiguration::appendingPath(apiBaseURL, path);
    }
    const QUrl withoutQuery = ServerConfiguration::appendingPath(apiBaseURL, path.left(question));
    QUrl withQuery = withoutQuery;
    withQuery.setQuery(path.mid(question + 1), QUrl::TolerantMode);
    return withQuery.isValid() ? withQuery : withoutQuery;
}

void APIClient::validateResponse(int statusCode, const QByteArray& body) {
    if (statusCode == HttpResponse::kNotHttp || (statusCode >= 200 && statusCode <= 299)) {
        return;
    }
    switch (statusCode) {
    case 401:
        throw APIError::unauthorized();
    case 403:
        throw APIError::forbidden();
    case 404:
        throw APIError::notFound();
    default:
        throw APIError::serverError(statusCode, utf8Text(body).value_or("Unknown error"));
    }
}

QCoro::Task<QByteArray> APIClient::send(QString path, QByteArray method, std::optional<nlohmann::json> body) {
    QPointer<APIClient> self(this);
    const std::optional<QUrl> apiBase = serverConfig_.apiBaseURL();
    if (!apiBase) {
        throw APIError::notConfigured();
    }
    QNetworkRequest request(callURL(*apiBase, path));
    request.setRawHeader("Content-Type", "application/json");
    if (const std::optional<std::string> token = credentials_.load(CredentialItem::accessToken)) {
        request.setRawHeader("Authorization", bearer(*token));
    }
    const QByteArray payload = body ? QByteArray::fromStdString(body->dump()) : QByteArray();

    HttpResponse response;
    try {
        response = co_await transport_.send(request, method, payload);
    } catch (const TransportError& error) {
        throw APIError::networkError(error);
    }
    if (response.statusCode != 401) {
        validateResponse(response.statusCode, response.body);
        co_return response.body;
    }

    if (!self) {
        throw APIError::unauthorized();
    }
    bool revalidated = false;
    try {
        (void)co_await authManager_.fetchCurrentUser();
        revalidated = true;
    } catch (const std::exception&) {
        // The re-validation's own error is dropped: the call simply needs a new sign-in.
    }
    if (!revalidated || !self) {
        throw APIError::unauthorized();
    }
    if (const std::optional<std::string> token = credentials_.load(CredentialItem::accessToken)) {
        request.setRawHeader("Authorization", bearer(*token));
    }
    try {
        response = co_await transport_.send(request, method, payload);
    } catch (const TransportError& error) {
        throw APIError::networkError(error);
    }
    validateResponse(response.statusCode, response.body);
    co_return response.body;
}

} // namespace veltrane
