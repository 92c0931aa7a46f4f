#include "app/cli/UploadFolderSetting.h"

#include <QDir>
#include <QSettings>
#include <QString>

namespace veltrane {

std::optional<std::filesystem::path> UploadFolderSetting::load() {
    const QSettings settings;
    const QString path = settings.value(QString::fromLatin1(kKey)).toString();
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(path.toStdString());
}

bool UploadFolderSetting::save(const std::filesystem::path& folder) {
    QSettings settings;
    const QString absolute = QDir(QString::fromStdString(folder.string())).absolutePath();
    settings.setValue(QString::fromLatin1(kKey), absolute);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace veltrane
