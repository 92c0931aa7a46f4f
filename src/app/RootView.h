#pragma once

#include <QString>
#include <QWidget>

class QVBoxLayout;

namespace veltrane {

class AppEnvironment;
class ContentView;
class LoginView;

// The gate of the window: a busy indicator while the sign-in state is being settled, the
// sign-in form when nobody is signed in, the main screen once signed in. The main screen, once
// made, lives as long as the view: after a sign-out or an expired session it only hides behind
// the sign-in form, so a recording under way goes on. Runs the start-up sequence when created.
// Main thread only.
class RootView : public QWidget {
    Q_OBJECT

public:
    // `env` must outlive the view.
    explicit RootView(AppEnvironment& env, QWidget* parent = nullptr);

    // The main screen, once signed in; null before.
    [[nodiscard]] ContentView* contentView() const { return content_; }
    // The sign-in form while it shows; null otherwise.
    [[nodiscard]] LoginView* loginView() const { return login_; }

    // The device identifier derived from the computer's name: lower-cased ASCII letters and
    // digits, at most 32, ending in a digit ("linux001" when nothing usable remains).
    [[nodiscard]] static QString defaultDeviceID(const QString& computerName);
    // The computer's user-visible name: the pretty host name when the system has one
    // (/etc/machine-info), otherwise the host name.
    [[nodiscard]] static QString
    computerName(const QString& machineInfoPath = QStringLiteral("/etc/machine-info"));

signals:
    // The shown content changed (the window adapts its size).
    void contentChanged();

private:
    void showState();
    void changeServer();

    AppEnvironment& env_;
    QVBoxLayout* layout_ = nullptr;
    QWidget* progress_ = nullptr;
    LoginView* login_ = nullptr;
    ContentView* content_ = nullptr;
};

} // namespace veltrane
