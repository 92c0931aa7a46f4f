#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace veltrane {

// What the status icon shows.
enum class StatusIconState { idle, recording, uploading };

// The application's icon in the desktop's tray (StatusNotifierItem or the XEmbed tray, through
// QSystemTrayIcon), made only where the desktop offers one. It shows whether a recording runs
// (with the elapsed time in its tooltip) or uploads are under way, and its menu has Show Window,
// Start/Stop Recording and Quit. Main thread only.
class StatusIcon : public QObject {
    Q_OBJECT

public:
    explicit StatusIcon(QObject* parent = nullptr);
    ~StatusIcon() override;

    // Whether the desktop has a tray to put an icon in.
    [[nodiscard]] static bool isAvailable();

    // `elapsed` is the recording's time ("12:31"); `pendingUploads` the jobs not yet sent.
    void show(StatusIconState state, const QString& elapsed, int pendingUploads, bool canStartRecording);
    [[nodiscard]] StatusIconState state() const noexcept { return state_; }
    [[nodiscard]] QMenu* menu() const noexcept { return menu_; }

    [[nodiscard]] static QString tooltipText(StatusIconState state, const QString& elapsed,
                                             int pendingUploads);
    // The application's icon, with a red dot while recording and an arrow while uploading.
    [[nodiscard]] static QIcon iconFor(StatusIconState state);

signals:
    void showWindowRequested();
    void toggleRecordingRequested();
    void quitRequested();

private:
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* toggleAction_ = nullptr;
    StatusIconState state_ = StatusIconState::idle;
    bool shownOnce_ = false;
};

} // namespace veltrane
