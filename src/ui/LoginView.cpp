#include "ui/LoginView.h"

#include "app/Translations.h"
#include "server/AuthManager.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace veltrane {

namespace {

bool isReturn(const QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

LoginView::LoginView(AuthManager& auth, QString serverHost, QWidget* parent) : QWidget(parent), auth_(auth) {
    setFixedWidth(kContentWidthPx + 2 * kPaddingPx);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPaddingPx, kPaddingPx, kPaddingPx, kPaddingPx);
    layout->setSpacing(16);

    logo_ = new QLabel(this);
    logo_->setAccessibleName(QStringLiteral("Veltrane"));
    logo_->setAlignment(Qt::AlignCenter);
    logo_->setPixmap(style::logoPixmap(kLogoMaxWidthPx, devicePixelRatioF()));
    layout->addWidget(logo_, 0, Qt::AlignHCenter);

    // The server's address, and under it the button: side by side they clip with a large font.
    auto* serverRow = new QVBoxLayout;
    serverRow->setSpacing(4);
    serverLabel_ = style::makeLabel(serverHost, style::captionFont(), this);
    serverLabel_->setObjectName(QStringLiteral("server"));
    serverLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    style::setTextColor(*serverLabel_, style::secondaryTextColor(palette()));
    serverRow->addWidget(serverLabel_, 0, Qt::AlignHCenter);
    changeServerButton_ = style::makeSmallButton(tr("Change Server…"), this);
    changeServerButton_->setObjectName(QStringLiteral("changeServer"));
    changeServerButton_->hide();
    connect(changeServerButton_, &QPushButton::clicked, this, &LoginView::changeServerRequested);
    serverRow->addWidget(changeServerButton_, 0, Qt::AlignHCenter);
    layout->addLayout(serverRow);

    auto* fields = new QVBoxLayout;
    fields->setSpacing(8);
    emailField_ = new QLineEdit(this);
    emailField_->setObjectName(QStringLiteral("email"));
    emailField_->setPlaceholderText(tr("Email"));
    emailField_->setAccessibleName(tr("Email"));
    emailField_->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    emailField_->setText(auth.lastEmail());
    passwordField_ = new QLineEdit(this);
    passwordField_->setObjectName(QStringLiteral("password"));
    passwordField_->setPlaceholderText(tr("Password"));
    passwordField_->setAccessibleName(tr("Password"));
    passwordField_->setEchoMode(QLineEdit::Password);
    fields->addWidget(emailField_);
    fields->addWidget(passwordField_);
    layout->addLayout(fields);

    errorLabel_ = style::makeLabel(QString(), style::captionFont(), this);
    errorLabel_->setAlignment(Qt::AlignCenter);
    errorLabel_->setWordWrap(true);
    style::setTextColor(*errorLabel_, style::redColor(palette()));
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->hide();
    layout->addWidget(errorLabel_);

    // The button and, while an attempt runs, the busy indicator laid over its (then empty) face. The
    // indicator is not the button's child, so the disabled button does not grey it out.
    auto* buttonSlot = new QWidget(this);
    auto* buttonStack = new QStackedLayout(buttonSlot);
    buttonStack->setStackingMode(QStackedLayout::StackAll);
    signInButton_ = new QPushButton(tr("Sign in"), buttonSlot);
    signInButton_->setObjectName(QStringLiteral("signIn"));
    signInButton_->setDefault(true);
    style::makeProminent(*signInButton_);
    // The height is fixed so that swapping the title for the busy indicator does not move anything.
    buttonSlot->setFixedHeight(signInButton_->sizeHint().height());
    auto* busyOverlay = new QWidget(buttonSlot);
    busyOverlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* busyLayout = new QHBoxLayout(busyOverlay);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyIndicator_ = style::makeBusyIndicator(QSize(48, 6), busyOverlay);
    busyIndicator_->setObjectName(QStringLiteral("busy"));
    busyLayout->addWidget(busyIndicator_, 0, Qt::AlignCenter);
    buttonStack->addWidget(signInButton_);
    buttonStack->addWidget(busyOverlay);
    buttonStack->setCurrentWidget(busyOverlay);
    layout->addWidget(buttonSlot);
    connectControls();
}

// The keyboard path through the form and what each control sets off.
void LoginView::connectControls() {
    emailField_->installEventFilter(this);
    setTabOrder(emailField_, passwordField_);
    setTabOrder(passwordField_, signInButton_);

    connect(emailField_, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(passwordField_, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(signInButton_, &QPushButton::clicked, this, &LoginView::submit);
    connect(&auth_, &AuthManager::stateChanged, this, &LoginView::render);
    render();
}

bool LoginView::canSubmit(const QString& email, const QString& password, bool authenticating) {
    return !email.trimmed().isEmpty() && !password.isEmpty() && !authenticating;
}

void LoginView::setServer(const QString& serverText, bool changeable) {
    serverLabel_->setText(tr("Server: %1").arg(serverText));
    changeServerButton_->setVisible(changeable);
}

bool LoginView::isAuthenticating() const {
    return auth_.state().kind() == AuthState::Kind::authenticating;
}

void LoginView::render() {
    const bool authenticating = isAuthenticating();
    emailField_->setEnabled(!authenticating);
    passwordField_->setEnabled(!authenticating);
    changeServerButton_->setEnabled(!authenticating);
    busyIndicator_->setVisible(authenticating);
    signInButton_->setText(authenticating ? QString() : tr("Sign in"));

    const AuthState& state = auth_.state();
    const bool failed = state.kind() == AuthState::Kind::error;
    errorLabel_->setText(failed ? shownMessage(state.errorMessage()) : QString());
    errorLabel_->setVisible(failed);
    updateButton();

    if (wasAuthenticating_ && !authenticating && focusBeforeAttempt_ != nullptr) {
        focusBeforeAttempt_->setFocus();
    }
    wasAuthenticating_ = authenticating;
}

void LoginView::updateButton() {
    signInButton_->setEnabled(canSubmit(emailField_->text(), passwordField_->text(), isAuthenticating()));
}

void LoginView::submit() {
    if (!canSubmit(emailField_->text(), passwordField_->text(), isAuthenticating())) {
        return;
    }
    focusBeforeAttempt_ = emailField_->hasFocus() ? emailField_ : passwordField_;
    // login() never throws and leaves its outcome in the state this form follows; the manager
    // outlives the form, so nothing here has to wait for it. The texts go as typed: trimming is
    // the manager's business.
    (void)auth_.login(emailField_->text(), passwordField_->text());
}

void LoginView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // After an expired session the email is already there: the password is what is missing.
    (emailField_->text().isEmpty() ? emailField_ : passwordField_)->setFocus();
}

bool LoginView::eventFilter(QObject* watched, QEvent* event) {
    // Return in the email field only moves on to the password field, however full the form is.
    if (watched == emailField_ && isReturn(event)) {
        passwordField_->setFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void LoginView::keyPressEvent(QKeyEvent* event) {
    // Line edits pass Return on to their parent: Return in the password field, or anywhere else in
    // the form, is the button's key.
    if (!isReturn(event)) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (signInButton_->isEnabled()) {
        submit();
    }
}

} // namespace veltrane
