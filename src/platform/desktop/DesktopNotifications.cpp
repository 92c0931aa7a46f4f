#include "platform/desktop/DesktopNotifications.h"

#include "platform/core/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

namespace veltrane {

namespace {

QDBusMessage notifyMessage(const QString& summary, const QString& body, NotificationUrgency urgency) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(DesktopNotifications::kService), QString::fromLatin1(DesktopNotifications::kPath),
        QString::fromLatin1(DesktopNotifications::kService), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QString::fromLatin1(DesktopNotifications::kIconName)},
        {QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency))},
    };
    message << QString::fromLatin1(DesktopNotifications::kApplicationName) << 0U
            << QString::fromLatin1(DesktopNotifications::kIconName) << summary << body << QStringList()
            << hints << -1;
    return message;
}

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent) {}

void DesktopNotifications::announce(const QString& summary, const QString& body) {
    logInfo(lcDesktop(), "🔔 " + summary.toStdString() + (body.isEmpty() ? "" : " — " + body.toStdString()));
    emit sent(summary, body);
}

bool DesktopNotifications::connected() {
    if (QDBusConnection::sessionBus().isConnected()) {
        return true;
    }
    if (!std::exchange(reportedMissing_, true)) {
        logInfo(lcDesktop(), "ℹ️ no session bus: notifications are not shown");
    }
    return false;
}

void DesktopNotifications::notify(const QString& summary, const QString& body, NotificationUrgency urgency) {
    announce(summary, body);
    if (!connected()) {
        return;
    }
    const QDBusPendingCall call =
        QDBusConnection::sessionBus().asyncCall(notifyMessage(summary, body, urgency), kBlockingTimeoutMs);
    auto* watcher = new QDBusPendingCallWatcher(call, this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        if (finished->isError() && !std::exchange(reportedMissing_, true)) {
            logInfo(lcDesktop(),
                    "ℹ️ no notification service: " + finished->error().message().toStdString());
        }
        finished->deleteLater();
    });
}

bool DesktopNotifications::notifyAndWait(const QString& summary, const QString& body,
                                         NotificationUrgency urgency) {
    announce(summary, body);
    if (!connected()) {
        return false;
    }
    const QDBusMessage reply = QDBusConnection::sessionBus().call(notifyMessage(summary, body, urgency),
                                                                  QDBus::Block, kBlockingTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        logInfo(lcDesktop(), "ℹ️ no notification service: " + reply.errorMessage().toStdString());
        return false;
    }
    return true;
}

} // namespace veltrane
