#include "app/cli/UploadOptions.h"

#include <QFileInfo>

namespace veltrane {

QString UploadOptions::usage() {
    return QStringLiteral("usage: veltrane-cli upload [--wait] [--dir DIR]");
}

std::expected<UploadOptions, QString> UploadOptions::parse(const QStringList& arguments) {
    UploadOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (name == QStringLiteral("--wait")) {
            options.wait = true;
        } else if (name == QStringLiteral("--dir")) {
            if (i + 1 >= arguments.size()) {
                return std::unexpected(QStringLiteral("--dir needs a value"));
            }
            const QFileInfo folder(arguments[++i]);
            if (!folder.exists() || !folder.isDir()) {
                return std::unexpected(QStringLiteral("chunk folder does not exist: ") + folder.filePath());
            }
            options.directory = std::filesystem::path(folder.absoluteFilePath().toStdString());
        } else if (name.startsWith(QStringLiteral("--"))) {
            return std::unexpected(QStringLiteral("unknown option: ") + name);
        } else {
            return std::unexpected(QStringLiteral("unexpected argument: ") + name);
        }
    }
    return options;
}

} // namespace veltrane
