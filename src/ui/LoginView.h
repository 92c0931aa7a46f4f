#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veltrane {

class AuthManager;

// The sign-in form: logo, the server with "Change Server…", email and password fields, the last
// attempt's error and the "Sign in" button. The email of the last signed-in user is filled in. Everything but
// the two field texts comes from the authentication state. Return in the email field moves to the password
// field; Return anywhere else signs in when the button is enabled.
class LoginView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kContentWidthPx = 320;
    static constexpr int kPaddingPx = 24;
    static constexpr int kLogoMaxWidthPx = 190;

    // `auth` must outlive the form; `serverHost` is the host of the server base URL (may be empty).
    LoginView(AuthManager& auth, QString serverHost, QWidget* parent = nullptr);

    // A non-blank email (surrounding white space does not count), a non-empty password, and no
    // attempt running.
    [[nodiscard]] static bool canSubmit(const QString& email, const QString& password, bool authenticating);

    // The server line's text, and whether "Change Server…" is offered.
    void setServer(const QString& serverText, bool changeable);

signals:
    void changeServerRequested();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    [[nodiscard]] bool isAuthenticating() const;
    void connectControls();
    void render();
    void updateButton();
    void submit();

    AuthManager& auth_;
    QLabel* logo_ = nullptr;
    QLabel* serverLabel_ = nullptr;
    QPushButton* changeServerButton_ = nullptr;
    QLineEdit* emailField_ = nullptr;
    QLineEdit* passwordField_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* signInButton_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    // The field that had the focus when the attempt started; it gets it back after a failure.
    QLineEdit* focusBeforeAttempt_ = nullptr;
    bool wasAuthenticating_ = false;
};

} // namespace veltrane
