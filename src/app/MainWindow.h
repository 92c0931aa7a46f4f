#pragma once

#include "storage/RecordingDestination.h"

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <filesystem>
#include <optional>

class QLabel;
class QTimer;

namespace veltrane {

class AppEnvironment;
class ContentView;
class DesktopNotifications;
class RootView;
class StatusIcon;
class UploadFailureNotifier;

// The desktop's folder dialog as the folder chooser.
class DialogFolderChooser : public FolderChooser {
public:
    explicit DialogFolderChooser(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    [[nodiscard]] std::optional<std::filesystem::path>
    chooseFolder(const QString& title, const QString& acceptLabel,
                 const std::optional<std::filesystem::path>& startFolder) override;

private:
    QWidget* parent_ = nullptr;
};

// How a quit treats a running recording.
enum class QuitConfirmation { ask, skip };

// What the user answered when asked about a quit during a recording.
enum class QuitChoice { keepInBackground, stopAndQuit, cancel };

// Whether the desktop offers a tray for the status icon.
enum class TrayPresence { detect, absent };

// The application's one window. It opens at its remembered size and place, fitted into the
// screen's free area, and can be resized down to a small laptop screen (the main screen scrolls).
// Where the desktop has a tray, a status icon shows the recording and the uploads, and closing
// the window during a recording may leave it running in the background. The desktop's
// notifications tell about a recording that stopped by itself, uploads that failed for good,
// an expired session and a silent source while the window is not in front.
//
// Quitting while recording stops, waits until the last chunk is finished and queued, hands
// unfinished uploads to a background uploader and quits. While another process holds the upload
// queue it tries to take it over every few seconds. Main thread only.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kQueueRetryIntervalMs = 3000;
    static constexpr const char* kQuitQuestion = QT_TR_NOOP("A recording is under way.");
    static constexpr const char* kGeometryKey = "kWindowGeometry";
    static constexpr const char* kScreenKey = "kWindowScreen";
    static constexpr QSize kMinimumSize{400, 420};
    static constexpr QSize kDefaultSize{460, 800};
    // The window frame assumed until the window manager has drawn one.
    static constexpr QMargins kAssumedFrame{4, 32, 4, 4};

    explicit MainWindow(AppEnvironment& env, TrayPresence tray = TrayPresence::detect,
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    [[nodiscard]] RootView& rootView() { return *root_; }
    [[nodiscard]] StatusIcon* statusIcon() const { return statusIcon_; }
    [[nodiscard]] DesktopNotifications& notifications() { return *notifications_; }
    // Quits as a close would, without asking (logout, shutdown: SIGTERM).
    void quitWithoutAsking();
    // Brings the window to the front (a second start of the program asks for this).
    void bringToFront();

    // Where the background uploader's output goes: the per-user state folder.
    [[nodiscard]] static std::filesystem::path uploaderLogPath();

    // The window's client area: `remembered` (or `defaultSize`, centred) brought inside
    // `available` with its frame, no smaller than `minimum`.
    [[nodiscard]] static QRect fittedGeometry(const std::optional<QRect>& remembered, const QRect& available,
                                              QSize minimum, QSize defaultSize, QMargins frame);
    // "● Recording 12:31 — VeltraneRecorder" while recording, "VeltraneRecorder" otherwise.
    [[nodiscard]] static QString titleText(bool recording, const QString& elapsed);
    [[nodiscard]] static QString helpText(const QString& chunkFolder, const QString& queueFile,
                                          const QString& uploaderLog);
    [[nodiscard]] static QString aboutText();

signals:
    // Everything is saved and handed over: the application may end now.
    void quitReady();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void beginQuit(QuitConfirmation confirmation, bool offerBackground);
    [[nodiscard]] QuitChoice askAboutRecording(bool offerBackground);
    void finishQuit();
    void handOverUploads();
    void contentChanged();
    void refreshPresence();
    void restoreWindowGeometry();
    void fitIntoScreen();
    void place(const QRect& content, const QMargins& frame);
    void saveWindowGeometry();
    void showHelp();
    void showAbout();
    void sessionExpired();
    [[nodiscard]] int unsentUploadCount();

    AppEnvironment& env_;
    RootView* root_ = nullptr;
    QLabel* savingLabel_ = nullptr;
    QTimer* queueRetry_ = nullptr;
    StatusIcon* statusIcon_ = nullptr;
    DesktopNotifications* notifications_ = nullptr;
    UploadFailureNotifier* failureNotifier_ = nullptr;
    QPointer<ContentView> content_;
    bool quitting_ = false;
    bool readyToClose_ = false;
    bool fittedOnce_ = false;
};

} // namespace veltrane
