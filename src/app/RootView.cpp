#include "app/RootView.h"

#include "app/AppEnvironment.h"
#include "app/Translations.h"
#include "ui/ContentView.h"
#include "ui/LoginView.h"
#include "ui/Style.h"

#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QSysInfo>
#include <QVBoxLayout>

namespace veltrane {

namespace {

constexpr int kMaxDeviceIDLength = 32;
const QString kFallbackWord = QStringLiteral("linux");

} // namespace

QString RootView::defaultDeviceID(const QString& computerName) {
    QString id;
    for (const QChar c : computerName.toLower()) {
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) {
            id.append(c);
        }
    }
    id.truncate(kMaxDeviceIDLength);
    if (id.isEmpty()) {
        return kFallbackWord + QStringLiteral("001");
    }
    if (id.back().isDigit()) {
        return id.size() > 1 ? id : kFallbackWord + id;
    }
    return id + QStringLiteral("001");
}

QString RootView::computerName(const QString& machineInfoPath) {
    QFile info(machineInfoPath);
    if (info.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!info.atEnd()) {
            const QString line = QString::fromUtf8(info.readLine()).trimmed();
            if (line.startsWith(QStringLiteral("PRETTY_HOSTNAME="))) {
                QString value = line.mid(16);
                if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
                    value.back() == value.front()) {
                    value = value.mid(1, value.size() - 2);
                }
                if (!value.isEmpty()) {
                    return value;
                }
            }
        }
    }
    return QSysInfo::machineHostName();
}

RootView::RootView(AppEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(&env_.auth(), &AuthManager::stateChanged, this, &RootView::showState);
    showState();
    [](QPointer<AppEnvironment> target) -> QCoro::Task<> {
        if (target) {
            co_await target->bootstrap();
        }
    }(&env_);
}

void RootView::showState() {
    const AuthState::Kind kind = env_.auth().state().kind();
    if (kind == AuthState::Kind::authenticated) {
        delete std::exchange(login_, nullptr);
        delete std::exchange(progress_, nullptr);
        if (!content_) {
            auto recorder =
                std::make_unique<AudioRecorder>(env_.capture(), env_.writerFactory(), env_.userDefaults());
            recorder->setSleepInhibitor(std::make_shared<SleepInhibitor>(tr("Recording a meeting")));
            content_ = new ContentView(env_, std::move(recorder), defaultDeviceID(computerName()), this);
            layout_->addWidget(content_);
        }
        content_->show();
        emit contentChanged();
        return;
    }
    if (kind == AuthState::Kind::unknown) {
        if (!progress_ && !content_) {
            progress_ = new QWidget(this);
            auto* padding = new QVBoxLayout(progress_);
            padding->setContentsMargins(40, 40, 40, 40);
            padding->addWidget(style::makeBusyIndicator(QSize(120, 8), progress_));
            layout_->addWidget(progress_, 0, Qt::AlignCenter);
            emit contentChanged();
        }
        return;
    }
    if (!login_) {
        delete std::exchange(progress_, nullptr);
        if (content_) {
            content_->hide();
        }
        login_ = new LoginView(env_.auth(), QString(), this);
        login_->setServer(env_.serverConfig().displayText(), env_.serverConfig().isChangeable());
        connect(login_, &LoginView::changeServerRequested, this, &RootView::changeServer);
        layout_->addWidget(login_, 0, Qt::AlignCenter);
        emit contentChanged();
    }
}

void RootView::changeServer() {
    QString text = env_.serverConfig().baseURL() ? env_.serverConfig().baseURL()->toString() : QString();
    while (true) {
        bool accepted = false;
        text = QInputDialog::getText(this, tr("Change Server"), tr("Server address (https://…):"),
                                     QLineEdit::Normal, text, &accepted);
        if (!accepted || !login_) {
            return;
        }
        try {
            env_.changeServer(text);
            login_->setServer(env_.serverConfig().displayText(), env_.serverConfig().isChangeable());
            return;
        } catch (const std::invalid_argument& error) {
            QMessageBox::warning(this, tr("Change Server"), shownMessage(error.what()));
        }
    }
}

} // namespace veltrane
