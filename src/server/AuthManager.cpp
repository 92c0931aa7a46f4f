#include "server/AuthManager.h"

#include "platform/core/Log.h"
#include "server/CredentialStore.h"
#include "server/HttpTransport.h"
#include "server/Records.h"
#include "server/ServerConfiguration.h"
#include "server/ServerErrors.h"

#include <QPointer>

namespace veltrane {

AuthState AuthState::authenticated(std::optional<UserProfile> profile) {
    AuthState state(Kind::authenticated);
    state.profile_ = std::move(profile);
    return state;
}

AuthState AuthState::error(std::string message) {
    AuthState state(Kind::error);
    state.errorMessage_ = std::move(message);
    return state;
}

bool AuthState::operator==(const AuthState& other) const {
    if (kind_ != other.kind_) {
        return false;
    }
    switch (kind_) {
    case Kind::authenticated:
        if (profile_.has_value() != other.profile_.has_value()) {
            return false;
        }
        return !profile_ || profile_->id == other.profile_->id;
    case Kind::error:
        return errorMessage_ == other.errorMessage_;
    case Kind::unknown:
    case Kind::unauthenticated:
    case Kind::authenticating:
        return true;
    }
    return true;
}

namespace {

constexpr const char* kJson = "application/json";
constexpr std::int64_t kRejectedCredentialsMessageID = 4000006;

[[noreturn]] void throwGone() {
    throw TransportError(PlatformError{
        "AuthManager", 0, QT_TRANSLATE_NOOP("veltrane::Messages", "The request was cancelled."), nullptr});
}

} // namespace

AuthManager::AuthManager(const ServerConfiguration& serverConfig, const CredentialStore& credentials,
                         HttpTransport& transport, QObject* parent)
    : QObject(parent), serverConfig_(serverConfig), credentials_(credentials), transport_(transport) {}

void AuthManager::setState(AuthState state) {
    if (state == state_) {
        return;
    }
    state_ = std::move(state);
    if (state_.kind() == AuthState::Kind::authenticated && state_.profile()) {
        lastEmail_ = QString::fromStdString(state_.profile()->email);
    }
    emit stateChanged();
}

void AuthManager::forgetSession() {
    credentials_.remove(CredentialItem::accessToken);
    credentials_.remove(CredentialItem::refreshToken);
}

void AuthManager::signOut() {
    logInfo(lcServer(), "🔐 signed out");
    forgetSession();
    setState(AuthState::unauthenticated());
}

std::optional<std::string> AuthManager::currentToken() const {
    return credentials_.load(CredentialItem::accessToken);
}

QCoro::Task<> AuthManager::restoreSession() {
    QPointer<AuthManager> self(this);
    if (!currentToken()) {
        setState(AuthState::unauthenticated());
        co_return;
    }
    std::optional<UserProfile> profile;
    try {
        profile = co_await fetchCurrentUser();
    } catch (const std::exception&) {
        // Any failure means the stored session is not usable; start over with the sign-in form.
    }
    if (!self) {
        co_return;
    }
    if (profile) {
        setState(AuthState::authenticated(std::move(profile)));
        co_return;
    }
    forgetSession();
    setState(AuthState::unauthenticated());
}

QCoro::Task<UserProfile> AuthManager::fetchCurrentUser() {
    const std::optional<QUrl> apiBase = serverConfig_.apiBaseURL();
    if (!apiBase) {
        throw APIError::unauthorized();
    }
    const std::optional<std::string> token = currentToken();
    if (!token) {
        throw APIError::unauthorized();
    }
    QNetworkRequest request(ServerConfiguration::appendingPath(*apiBase, QStringLiteral("/auth/me")));
    request.setRawHeader("Authorization", QByteArray("Bearer ") + QByteArray::fromStdString(*token));

    QPointer<AuthManager> self(this);
    const HttpResponse response = co_await transport_.send(request, "GET");
    if (response.statusCode == 401 && self && state_.kind() == AuthState::Kind::authenticated &&
        currentToken() == token) {
        // The server forgot the session: nothing repairs that but a new sign-in.
        logInfo(lcServer(), "🔐 session expired; signing in again is required");
        forgetSession();
        emit sessionExpired();
        setState(AuthState::error(kSessionExpiredText));
    }
    if (response.statusCode != 200) {
        throw APIError::unauthorized();
    }
    co_return decodeJson<UserProfile>(response.body);
}

QCoro::Task<> AuthManager::login(QString email, QString password) {
    QPointer<AuthManager> self(this);
    const std::optional<QUrl> baseURL = serverConfig_.baseURL();
    if (!baseURL) {
        setState(AuthState::error(QT_TRANSLATE_NOOP("veltrane::Messages", "Server not configured")));
        co_return;
    }
    const QString trimmedEmail = email.trimmed();
    if (trimmedEmail.isEmpty() || password.isEmpty()) {
        setState(AuthState::error(QT_TRANSLATE_NOOP("veltrane::Messages", "Enter your email and password.")));
        co_return;
    }
    setState(AuthState::authenticating());
    logInfo(lcServer(), "🔐 login: starting Kratos flow at " + baseURL->toString().toStdString());

    try {
        const std::string token = co_await performKratosLogin(*baseURL, trimmedEmail, password);
        if (!self) {
            co_return;
        }
        logInfo(lcServer(), "🔐 login: got session token");
        const KeychainResult saved = credentials_.save(CredentialItem::accessToken, token);
        if (!currentToken()) {
            logWarning(lcServer(), "🔐 login: token did not survive the keychain");
            setState(AuthState::error(
                filledMessage(kSessionNotStoredMessage, {QString::fromStdString(saved.describe())})
                    .toStdString()));
            co_return;
        }
        UserProfile profile = co_await fetchCurrentUser();
        if (!self) {
            co_return;
        }
        logInfo(lcServer(), "🔐 login: authenticated as " + profile.email);
        setState(AuthState::authenticated(std::move(profile)));
    } catch (const LoginError& error) {
        if (self) {
            logInfo(lcServer(), "🔐 login failed: " + error.message());
            setState(AuthState::error(error.message()));
        }
    } catch (const std::exception& error) {
        if (self) {
            logInfo(lcServer(), "🔐 login failed: " + debugDescription(error));
            setState(AuthState::error(userDescription(error)));
        }
    }
}

QCoro::Task<std::string> AuthManager::performKratosLogin(QUrl baseURL, QString email, QString password) {
    QPointer<AuthManager> self(this);

    QNetworkRequest initRequest(
        ServerConfiguration::appendingPath(baseURL, QStringLiteral("/self-service/login/api")));
    initRequest.setRawHeader("Accept", kJson);
    const HttpResponse initResponse = co_await transport_.send(initRequest, "GET");
    if (initResponse.statusCode != 200) {
        const std::string status = std::to_string(initResponse.statusCode);
        logInfo(lcServer(), "🔐 login: flow init failed, HTTP " + status);
        throw LoginError(
            filledMessage(kSignInServiceFailedMessage, {QString::fromStdString(status)}).toStdString());
    }
    const KratosFlow flow = decodeJson<KratosFlow>(initResponse.body);
    if (!self) {
        throwGone();
    }

    QUrl submitURL = ServerConfiguration::appendingPath(baseURL, QStringLiteral("/self-service/login"));
    submitURL.setQuery(QStringLiteral("flow=") +
                           QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(flow.id))),
                       QUrl::StrictMode);
    QNetworkRequest submitRequest(submitURL);
    submitRequest.setRawHeader("Content-Type", kJson);
    submitRequest.setRawHeader("Accept", kJson);
    const nlohmann::json body = {
        {"method", "password"}, {"identifier", email.toStdString()}, {"password", password.toStdString()}};
    const HttpResponse submitResponse =
        co_await transport_.send(submitRequest, "POST", QByteArray::fromStdString(body.dump()));

    if (submitResponse.statusCode == 200) {
        try {
            co_return decodeJson<KratosLoginSuccess>(submitResponse.body).sessionToken;
        } catch (const DecodingError&) {
            logWarning(lcServer(), "🔐 login: 200 but no session_token — body: " +
                                       utf8Text(submitResponse.body).value_or("<binary>"));
            throw LoginError(QT_TRANSLATE_NOOP("veltrane::Messages",
                                               "Signed in, but the server did not return a session token."));
        }
    }

    logDebug(lcServer(), "🔐 login: flow submit returned HTTP " + std::to_string(submitResponse.statusCode));
    std::vector<KratosFlow::Message> messages;
    try {
        messages = decodeJson<KratosFlow>(submitResponse.body).collectedMessages();
    } catch (const DecodingError&) {
        throw LoginError(QT_TRANSLATE_NOOP("veltrane::Messages", "Invalid email or password."));
    }
    if (messages.empty()) {
        throw LoginError(QT_TRANSLATE_NOOP("veltrane::Messages", "Invalid email or password."));
    }
    for (const KratosFlow::Message& message : messages) {
        // The identity server's own text for this one names fields the form does not have.
        if (message.id == kRejectedCredentialsMessageID) {
            throw LoginError(QT_TRANSLATE_NOOP("veltrane::Messages", "Invalid email or password."));
        }
        if (message.type == "error") {
            throw LoginError(message.text);
        }
    }
    throw LoginError(messages.front().text);
}

} // namespace veltrane
