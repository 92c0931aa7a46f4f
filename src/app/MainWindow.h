#pragma once

#include "storage/RecordingDestination.h"

#include <QWidget>

#include <filesystem>

class QLabel;
class QTimer;

namespace veltrane {

class AppEnvironment;
class RootView;

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

// The application's one window. Closing it while recording asks first, then stops, waits until
// the last chunk is finished and queued, hands unfinished uploads to a background uploader and
// quits. While another process holds the upload queue it tries to take it over every few
// seconds. Main thread only.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kQueueRetryIntervalMs = 3000;
    static constexpr const char* kQuitQuestion = "Stop the recording and quit?";

    explicit MainWindow(AppEnvironment& env, QWidget* parent = nullptr);

    [[nodiscard]] RootView& rootView() { return *root_; }
    // Quits as a close would, without asking (logout, shutdown: SIGTERM).
    void quitWithoutAsking();
    // Brings the window to the front (a second start of the program asks for this).
    void bringToFront();

    // Where the background uploader's output goes: the per-user state folder.
    [[nodiscard]] static std::filesystem::path uploaderLogPath();

signals:
    // Everything is saved and handed over: the application may end now.
    void quitReady();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void beginQuit(QuitConfirmation confirmation);
    void finishQuit();
    void handOverUploads();

    AppEnvironment& env_;
    RootView* root_ = nullptr;
    QLabel* savingLabel_ = nullptr;
    QTimer* queueRetry_ = nullptr;
    bool quitting_ = false;
    bool readyToClose_ = false;
};

} // namespace veltrane
