#pragma once

#include "server/Records.h"

#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QUrl>

#include <optional>
#include <string>

namespace veltrane {

// The sign-in state that decides between the sign-in form and the main screen.
class AuthState {
public:
    enum class Kind { authenticated, error, unknown, unauthenticated, authenticating };

    [[nodiscard]] static AuthState authenticated(std::optional<UserProfile> profile);
    [[nodiscard]] static AuthState error(std::string message);
    [[nodiscard]] static AuthState unknown() { return AuthState(Kind::unknown); }
    [[nodiscard]] static AuthState unauthenticated() { return AuthState(Kind::unauthenticated); }
    [[nodiscard]] static AuthState authenticating() { return AuthState(Kind::authenticating); }

    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    // Present only for `authenticated` with a profile.
    [[nodiscard]] const std::optional<UserProfile>& profile() const noexcept { return profile_; }
    // The message of an `error` state, empty otherwise.
    [[nodiscard]] const std::string& errorMessage() const noexcept { return errorMessage_; }

    // Two authenticated states are equal when their profiles have the same id, two errors when
    // their messages are equal, the other cases when they are the same case.
    [[nodiscard]] bool operator==(const AuthState& other) const;

private:
    explicit AuthState(Kind kind) : kind_(kind) {}

    Kind kind_ = Kind::unknown;
    std::optional<UserProfile> profile_;
    std::string errorMessage_;
};

class CredentialStore;
class HttpTransport;
class ServerConfiguration;

// Owns the sign-in state: signs in through the identity server's self-service login API, keeps the
// session token in the credential store (never in memory) and confirms it with "/auth/me".
// Main thread only.
class AuthManager : public QObject {
    Q_OBJECT

public:
    // The sign-in failures put together from parts, marked for translation like
    // kUnreachableServerMessage (server/ServerErrors.h).
    static constexpr const char* kSignInServiceFailedMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Couldn't reach the sign-in service (HTTP %1).");
    static constexpr const char* kSessionNotStoredMessage = QT_TRANSLATE_NOOP(
        "veltrane::Messages", "Signed in, but the session could not be stored (keychain %1).");

    // The three collaborators must outlive the manager.
    AuthManager(const ServerConfiguration& serverConfig, const CredentialStore& credentials,
                HttpTransport& transport, QObject* parent = nullptr);

    [[nodiscard]] const AuthState& state() const noexcept { return state_; }

    // Settles the state from the stored token. Never throws.
    [[nodiscard]] QCoro::Task<> restoreSession();
    // Runs one sign-in attempt and leaves its outcome in state(). Never throws.
    [[nodiscard]] QCoro::Task<> login(QString email, QString password);
    // The profile of the stored token's user; does not change state(). Throws APIError (no base
    // URL, no token, any status but 200), TransportError or DecodingError.
    [[nodiscard]] QCoro::Task<UserProfile> fetchCurrentUser();
    // The session token as stored right now; absent when none is.
    [[nodiscard]] std::optional<std::string> currentToken() const;
    // The exchange with the identity server; returns the session token. Throws LoginError,
    // TransportError or DecodingError.
    [[nodiscard]] QCoro::Task<std::string> performKratosLogin(QUrl baseURL, QString email, QString password);

    // Forgets the stored session and returns to the sign-in form.
    void signOut();
    // The email of the last signed-in user (kept after a sign-out or an expired session, so the
    // form can offer it again); empty before any sign-in.
    [[nodiscard]] const QString& lastEmail() const noexcept { return lastEmail_; }

    static constexpr const char* kSessionExpiredText =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Your session has expired. Sign in again.");

signals:
    // Emitted only when the new state differs from the old one.
    void stateChanged();
    // The server no longer accepts the session of the signed-in user (a 401 that a new look-up
    // of the user could not repair). Emitted before the state changes to the sign-in form.
    void sessionExpired();

private:
    void setState(AuthState state);
    void forgetSession();

    const ServerConfiguration& serverConfig_;
    const CredentialStore& credentials_;
    HttpTransport& transport_;
    AuthState state_ = AuthState::unknown();
    QString lastEmail_;
};

} // namespace veltrane
