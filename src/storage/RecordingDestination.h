#pragma once

#include "platform/core/Messages.h"
#include "platform/settings/UserDefaults.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <optional>

namespace veltrane {

// The desktop's folder chooser, behind an interface so tests answer it without a window.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;

    // Shows a modal chooser of existing folders (new folders may be created in it), starting at
    // `startFolder` when given. Returns the chosen folder, or nothing when the user cancels.
    [[nodiscard]] virtual std::optional<std::filesystem::path>
    chooseFolder(const QString& title, const QString& acceptLabel,
                 const std::optional<std::filesystem::path>& startFolder) = 0;
};

// Whether an accepted folder is written to the user defaults.
enum class BookmarkSaving { save, keep };
// Whether a folder must be reopened (a remembered one) or may be used without held access.
enum class ScopedAccess { required, optional };

// The folder chunk files are written to and uploaded from. The user picks it once; it is
// remembered under "kDestinationBookmark" (the folder's absolute path) and reopened at the next
// start. A folder is accepted only when a file can really be created in it. Main thread only.
class RecordingDestination : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)

public:
    static constexpr const char* kDestinationBookmark = "kDestinationBookmark";
    // The chooser's texts and the folder problems, marked for translation (see filledMessage).
    static constexpr const char* kChooserTitle =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Choose a folder for recorded audio chunks");
    static constexpr const char* kChooserAcceptLabel = QT_TRANSLATE_NOOP("veltrane::Messages", "Choose");
    static constexpr const char* kReopenFailedMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Could not reopen %1. Choose the folder again.");
    static constexpr const char* kNotWritableMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "%1 is not writable. Choose another folder.");

    // Reopens the remembered folder. A null chooser makes chooseFolder() do nothing.
    RecordingDestination(std::shared_ptr<UserDefaults> defaults, std::shared_ptr<FolderChooser> chooser,
                         QObject* parent = nullptr);
    ~RecordingDestination() override;

    // The accepted folder; absent until one is chosen or reopened.
    [[nodiscard]] const std::optional<std::filesystem::path>& url() const noexcept { return url_; }
    // The last problem with a folder; cleared when a folder is accepted.
    [[nodiscard]] const std::optional<QString>& errorMessage() const noexcept { return errorMessage_; }
    [[nodiscard]] QString errorMessageText() const { return errorMessage_.value_or(QString()); }
    // The folder whose access this object holds; absent when none is held.
    [[nodiscard]] const std::optional<std::filesystem::path>& accessedURL() const noexcept {
        return accessedURL_;
    }

    // Asks the user for a folder and adopts it (remembering it) when one is chosen.
    void chooseFolder();
    // Accepts `folder` when it can be opened and written, else leaves the previous folder in
    // place with a message naming the folder.
    void adoptFolder(const std::filesystem::path& folder, BookmarkSaving saving, ScopedAccess access);

    // True when a file can be created (and removed again) in `folder`. Asks the file system
    // itself: permission bits say "writable" for root and on read-only mounts.
    [[nodiscard]] static bool isWritableFolder(const std::filesystem::path& folder);

signals:
    void urlChanged();
    void errorMessageChanged();

private:
    void restoreBookmark();
    void setUrl(std::optional<std::filesystem::path> url);
    void setErrorMessage(std::optional<QString> message);

    std::shared_ptr<UserDefaults> defaults_;
    std::shared_ptr<FolderChooser> chooser_;
    std::optional<std::filesystem::path> url_;
    std::optional<QString> errorMessage_;
    std::optional<std::filesystem::path> accessedURL_;
};

} // namespace veltrane
