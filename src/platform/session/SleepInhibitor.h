#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

namespace veltrane {

// Keeps the computer from idle sleep and the screen saver from starting while something long
// runs (a recording), through the session bus services desktops offer for this: the
// freedesktop screen saver's Inhibit, else the GNOME session manager's. A desktop without
// either is not an error: one log line says that sleep cannot be held off. Main thread only;
// the calls never block the caller except the release in the destructor (bounded).
class SleepInhibitor : public QObject {
    Q_OBJECT
public:
    explicit SleepInhibitor(QString reason, QObject* parent = nullptr);
    // Releases a held inhibitor before the process can go.
    ~SleepInhibitor() override;

    // Asks for the inhibitor; nothing when it is held or asked for already.
    void hold();
    // Gives it back (also one whose answer is still on its way).
    void release();

    [[nodiscard]] bool isHeld() const { return service_ != Service::none; }

signals:
    // The inhibitor was granted or given back.
    void heldChanged();

private:
    enum class Service { none, screenSaver, sessionManager };

    void ask(Service service);
    void granted(Service service, std::uint32_t cookie);
    void unavailable(const QString& why);
    void sendRelease(bool waitForAnswer);

    const QString reason_;
    bool wanted_ = false;
    bool asking_ = false;
    bool reportedUnavailable_ = false;
    Service service_ = Service::none;
    std::uint32_t cookie_ = 0;
};

} // namespace veltrane
