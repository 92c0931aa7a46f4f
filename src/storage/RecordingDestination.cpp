#include "storage/RecordingDestination.h"

#include "platform/core/Log.h"

#include <QDir>
#include <QTemporaryFile>

#include <system_error>

namespace veltrane {

namespace {

QString folderName(const std::filesystem::path& folder) {
    const auto trimmed = folder.has_filename() ? folder : folder.parent_path();
    return QString::fromStdString(trimmed.filename().string());
}

// The bookmark of a folder is its absolute path; it resolves while that path is a folder.
std::optional<std::filesystem::path> resolveBookmark(const QString& bookmark) {
    if (bookmark.isEmpty()) {
        return std::nullopt;
    }
    const std::filesystem::path folder(bookmark.toStdString());
    std::error_code error;
    if (!folder.is_absolute() || !std::filesystem::is_directory(folder, error)) {
        return std::nullopt;
    }
    return folder;
}

// Access to a folder can be held while it exists.
bool startAccessing(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::is_directory(folder, error);
}

} // namespace

RecordingDestination::RecordingDestination(std::shared_ptr<UserDefaults> defaults,
                                           std::shared_ptr<FolderChooser> chooser, QObject* parent)
    : QObject(parent), defaults_(std::move(defaults)), chooser_(std::move(chooser)) {
    restoreBookmark();
}

RecordingDestination::~RecordingDestination() {
    accessedURL_.reset();
}

void RecordingDestination::chooseFolder() {
    if (!chooser_) {
        return;
    }
    const auto chosen = chooser_->chooseFolder(QString::fromUtf8(kChooserTitle),
                                               QString::fromUtf8(kChooserAcceptLabel), url_);
    if (!chosen) {
        return;
    }
    adoptFolder(*chosen, BookmarkSaving::save, ScopedAccess::optional);
}

void RecordingDestination::restoreBookmark() {
    if (!defaults_) {
        return;
    }
    const auto bookmark = defaults_->string(QString::fromLatin1(kDestinationBookmark));
    if (!bookmark) {
        return;
    }
    const auto folder = resolveBookmark(*bookmark);
    if (!folder) {
        defaults_->remove(QString::fromLatin1(kDestinationBookmark));
        return;
    }
    // A path never goes stale, so a reopened folder's entry is not rewritten.
    adoptFolder(*folder, BookmarkSaving::keep, ScopedAccess::required);
}

void RecordingDestination::adoptFolder(const std::filesystem::path& folder, BookmarkSaving saving,
                                       ScopedAccess access) {
    accessedURL_.reset();
    const bool granted = startAccessing(folder);
    if (access == ScopedAccess::required && !granted) {
        setErrorMessage(filledMessage(kReopenFailedMessage, {folderName(folder)}));
        return;
    }
    if (granted) {
        accessedURL_ = folder;
    }
    if (!isWritableFolder(folder)) {
        accessedURL_.reset();
        setErrorMessage(filledMessage(kNotWritableMessage, {folderName(folder)}));
        return;
    }
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error) {
        absolute = folder;
    }
    absolute = absolute.lexically_normal();
    if (!absolute.has_filename() && absolute.has_relative_path()) {
        absolute = absolute.parent_path(); // no trailing separator
    }
    setUrl(absolute);
    setErrorMessage(std::nullopt);
    logInfo(lcStorage(),
            "📁 destination set: " + url_->string() + " (scoped: " + (granted ? "true" : "false") + ")");
    if (saving == BookmarkSaving::save && defaults_) {
        defaults_->setString(QString::fromLatin1(kDestinationBookmark),
                             QString::fromStdString(url_->string()));
    }
}

bool RecordingDestination::isWritableFolder(const std::filesystem::path& folder) {
    QTemporaryFile probe(
        QDir(QString::fromStdString(folder.string())).filePath(QStringLiteral(".write-probe-XXXXXX")));
    return probe.open(); // removed again when the probe goes out of scope
}

void RecordingDestination::setUrl(std::optional<std::filesystem::path> url) {
    if (url_ == url) {
        return;
    }
    url_ = std::move(url);
    emit urlChanged();
}

void RecordingDestination::setErrorMessage(std::optional<QString> message) {
    if (errorMessage_ == message) {
        return;
    }
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

} // namespace veltrane
