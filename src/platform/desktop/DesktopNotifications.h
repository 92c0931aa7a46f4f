#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

namespace veltrane {

// How insistently the desktop shows a notification.
enum class NotificationUrgency : std::uint8_t { low = 0, normal = 1, critical = 2 };

// Shows notifications through the desktop's notification service (org.freedesktop.Notifications
// on the session bus) under the application's name and icon. Without a session bus or a service
// nothing is shown and nothing fails: one line is logged and the call returns. Main thread only.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kApplicationName = "VeltraneRecorder";
    static constexpr const char* kIconName = "co.brimfold.VeltraneRecorder";
    // How long a blocking send waits for the service.
    static constexpr int kBlockingTimeoutMs = 3000;

    explicit DesktopNotifications(QObject* parent = nullptr);

    // Sends without waiting for the answer (the window).
    void notify(const QString& summary, const QString& body,
                NotificationUrgency urgency = NotificationUrgency::normal);
    // Sends and waits until the service took it (a command about to exit); true when it did.
    bool notifyAndWait(const QString& summary, const QString& body,
                       NotificationUrgency urgency = NotificationUrgency::normal);

signals:
    // A notification was sent (whether or not a service showed it).
    void sent(const QString& summary, const QString& body);

private:
    [[nodiscard]] bool connected();
    void announce(const QString& summary, const QString& body);

    bool reportedMissing_ = false;
};

} // namespace veltrane
