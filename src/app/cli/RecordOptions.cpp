#include "app/cli/RecordOptions.h"

#include "storage/ChunkFileName.h"

#include <QFileInfo>

namespace veltrane {

namespace {

std::optional<double> parseNumber(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

QString RecordOptions::usage() {
    return QStringLiteral(
        "usage: veltrane-cli record --dir DIR --device-id ID [--format wav|m4a] [--source ID] "
        "[--seconds N] [--chunk-seconds S] [--system-gain G] [--mic UNIQUEID] [--mic-gain G] "
        "[--project ID [--meeting ID]]");
}

std::expected<RecordOptions, QString> RecordOptions::parse(const QStringList& arguments) {
    RecordOptions options;
    bool haveDirectory = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (!name.startsWith(QStringLiteral("--"))) {
            return std::unexpected(QStringLiteral("unexpected argument: ") + name);
        }
        if (i + 1 >= arguments.size()) {
            return std::unexpected(name + QStringLiteral(" needs a value"));
        }
        const QString value = arguments[++i];
        if (name == QStringLiteral("--dir")) {
            options.directory = std::filesystem::path(value.toStdString());
            haveDirectory = true;
        } else if (name == QStringLiteral("--device-id")) {
            options.deviceID = value;
        } else if (name == QStringLiteral("--format")) {
            if (value == QStringLiteral("wav")) {
                options.format = RecordingFormat::Wav;
            } else if (value == QStringLiteral("m4a")) {
                options.format = RecordingFormat::M4a;
            } else {
                return std::unexpected(QStringLiteral("--format must be wav or m4a, not ") + value);
            }
        } else if (name == QStringLiteral("--source")) {
            bool ok = false;
            const qlonglong id = value.toLongLong(&ok);
            if (!ok) {
                return std::unexpected(QStringLiteral("--source must be a source id, not ") + value);
            }
            options.sourceID = id;
        } else if (name == QStringLiteral("--seconds")) {
            const auto seconds = parseNumber(value);
            if (!seconds || !(*seconds > 0)) {
                return std::unexpected(QStringLiteral("--seconds must be a positive number, not ") + value);
            }
            options.durationSeconds = *seconds;
        } else if (name == QStringLiteral("--chunk-seconds")) {
            const auto seconds = parseNumber(value);
            if (!seconds || !(*seconds >= 1)) {
                return std::unexpected(QStringLiteral("--chunk-seconds must be at least 1, not ") + value);
            }
            options.chunkDurationSeconds = *seconds;
        } else if (name == QStringLiteral("--system-gain") || name == QStringLiteral("--mic-gain")) {
            const auto gain = parseNumber(value);
            if (!gain || *gain < 0.0 || *gain > 2.0) {
                return std::unexpected(name + QStringLiteral(" must be a number from 0 to 2, not ") + value);
            }
            (name == QStringLiteral("--system-gain") ? options.systemGain : options.microphoneGain) =
                static_cast<float>(*gain);
        } else if (name == QStringLiteral("--mic")) {
            options.microphoneID = value;
        } else if (name == QStringLiteral("--project")) {
            options.projectID = value;
        } else if (name == QStringLiteral("--meeting")) {
            options.meetingID = value;
        } else {
            return std::unexpected(QStringLiteral("unknown option: ") + name);
        }
    }
    if (!haveDirectory) {
        return std::unexpected(QStringLiteral("--dir is required"));
    }
    if (options.deviceID.isEmpty()) {
        return std::unexpected(QStringLiteral("--device-id is required"));
    }
    if (!isValidDeviceID(options.deviceID)) {
        return std::unexpected(QStringLiteral("invalid device id \"") + options.deviceID +
                               QStringLiteral("\": use letters and digits, ending in a digit"));
    }
    const QFileInfo folder(QString::fromStdString(options.directory.string()));
    if (!folder.exists() || !folder.isDir()) {
        return std::unexpected(QStringLiteral("output folder does not exist: ") + folder.filePath());
    }
    if (options.meetingID && !options.projectID) {
        return std::unexpected(QStringLiteral("--meeting needs --project"));
    }
    options.directory = std::filesystem::path(folder.absoluteFilePath().toStdString());
    return options;
}

} // namespace veltrane
