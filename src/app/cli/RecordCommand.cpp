#include "app/cli/RecordCommand.h"

#include "app/Translations.h"
#include "app/cli/CliApplication.h"
#include "platform/dispatch/MainThread.h"
#include "storage/ChunkFileName.h"

#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>

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
        "usage: veltrane-cli record --dir DIR --device-id ID [--format wav|m4a] [--source ID|default] "
        "[--seconds N] [--chunk-seconds S] [--system-gain G] [--mic UNIQUEID|default] [--mic-gain G] "
        "[--project ID [--meeting ID]]");
}

std::expected<RecordOptions, QString> RecordOptions::parse(const QStringList& arguments) {
    RecordOptions options;
    bool haveDirectory = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& name = arguments[i];
        if (!name.startsWith(QStringLiteral("--"))) {
            return std::unexpected(CliText::tr("unexpected argument: %1").arg(name));
        }
        if (i + 1 >= arguments.size()) {
            return std::unexpected(CliText::tr("%1 needs a value").arg(name));
        }
        const QString value = arguments[++i];
        if (name == QStringLiteral("--dir")) {
            options.directory = std::filesystem::path(value.toStdString());
            haveDirectory = true;
        } else if (name == QStringLiteral("--device-id")) {
            options.deviceID = value;
        } else if (name == QStringLiteral("--format")) {
            if (value == QStringLiteral("wav")) {
                options.format = RecordingFormat::wav;
            } else if (value == QStringLiteral("m4a")) {
                options.format = RecordingFormat::m4a;
            } else {
                return std::unexpected(CliText::tr("--format must be wav or m4a, not %1").arg(value));
            }
        } else if (name == QStringLiteral("--source")) {
            if (value == QStringLiteral("default")) {
                options.sourceID.reset(); // the default output, listed first
                continue;
            }
            bool ok = false;
            const qlonglong id = value.toLongLong(&ok);
            if (!ok) {
                return std::unexpected(CliText::tr("--source must be a source id, not %1").arg(value));
            }
            options.sourceID = id;
        } else if (name == QStringLiteral("--seconds")) {
            const auto seconds = parseNumber(value);
            if (!seconds || !(*seconds > 0)) {
                return std::unexpected(CliText::tr("--seconds must be a positive number, not %1").arg(value));
            }
            options.durationSeconds = *seconds;
        } else if (name == QStringLiteral("--chunk-seconds")) {
            const auto seconds = parseNumber(value);
            if (!seconds || !(*seconds >= 1)) {
                return std::unexpected(CliText::tr("--chunk-seconds must be at least 1, not %1").arg(value));
            }
            options.chunkDurationSeconds = *seconds;
        } else if (name == QStringLiteral("--system-gain") || name == QStringLiteral("--mic-gain")) {
            const auto gain = parseNumber(value);
            if (!gain || *gain < 0.0 || *gain > 2.0) {
                return std::unexpected(
                    CliText::tr("%1 must be a number from 0 to 2, not %2").arg(name, value));
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
            return std::unexpected(CliText::tr("unknown option: %1").arg(name));
        }
    }
    if (!haveDirectory) {
        return std::unexpected(CliText::tr("--dir is required"));
    }
    if (options.deviceID.isEmpty()) {
        return std::unexpected(CliText::tr("--device-id is required"));
    }
    if (!isValidDeviceID(options.deviceID)) {
        return std::unexpected(
            CliText::tr("invalid device id \"%1\": use letters and digits, ending in a digit")
                .arg(options.deviceID));
    }
    const QFileInfo folder(QString::fromStdString(options.directory.string()));
    if (!folder.exists() || !folder.isDir()) {
        return std::unexpected(CliText::tr("output folder does not exist: %1").arg(folder.filePath()));
    }
    if (options.meetingID && !options.projectID) {
        return std::unexpected(CliText::tr("--meeting needs --project"));
    }
    options.directory = std::filesystem::path(folder.absoluteFilePath().toStdString());
    return options;
}

namespace {

void printError(const QString& message) {
    QTextStream err(stderr);
    err << shownMessage(message.toStdString()) << Qt::endl;
}

} // namespace

RecordCommand::RecordCommand(RecordOptions options, std::shared_ptr<CaptureService> capture,
                             std::shared_ptr<MediaFileWriterFactory> writerFactory, QObject* parent)
    : QObject(parent), options_(std::move(options)), capture_(capture),
      recorder_(capture, std::move(writerFactory)) {
    recorder_.setSleepInhibitor(std::make_shared<SleepInhibitor>(tr("Recording a meeting")));
    connect(&recorder_, &AudioRecorder::errorMessageChanged, this, &RecordCommand::errorChanged);
    connect(&recorder_, &AudioRecorder::isRecordingChanged, this, &RecordCommand::recordingChanged);
}

void RecordCommand::run() {
    const QPointer<RecordCommand> guard(this);
    capture_->requestSources([guard](const std::expected<CaptureSourcesPtr, PlatformError>& result) {
        postGuarded(guard, [result](RecordCommand* self) { self->sourcesListed(result); });
    });
}

void RecordCommand::sourcesListed(const std::expected<CaptureSourcesPtr, PlatformError>& result) {
    if (stopping_) {
        emit finished(exitCode_);
        return;
    }
    if (!result) {
        fail(tr("Source Error: %1").arg(QString::fromStdString(result.error().localizedDescription)), 1);
        return;
    }
    const std::vector<SystemSource> sources = SystemSource::listFrom(*result);
    recorder_.setSystemSources(sources);
    if (sources.empty()) {
        fail(tr("No source to record: the sound server offers no output device or application"), 1);
        return;
    }
    auto source = sources.begin();
    if (options_.sourceID) {
        source = std::find_if(sources.begin(), sources.end(),
                              [this](const SystemSource& s) { return s.id == *options_.sourceID; });
        if (source == sources.end()) {
            fail(tr("unknown source: %1 (see `veltrane-cli sources`)").arg(*options_.sourceID), 2);
            return;
        }
    }
    if (options_.microphoneID) {
        const auto microphones = capture_->microphones();
        if (!microphones) {
            fail(tr("Source Error: %1").arg(QString::fromStdString(microphones.error().localizedDescription)),
                 1);
            return;
        }
        const auto device =
            std::find_if(microphones->begin(), microphones->end(), [this](const InputDevice& d) {
                // "default": the default input, followed.
                return QString::fromStdString(d.name) == *options_.microphoneID ||
                       (*options_.microphoneID == QStringLiteral("default") &&
                        d.name == kDefaultInputDeviceName);
            });
        if (device == microphones->end()) {
            fail(tr("unknown microphone: %1").arg(*options_.microphoneID), 2);
            return;
        }
        recorder_.setMicrophones(*microphones);
        recorder_.setSelectedMicrophone(*device);
    }
    start(*source);
}

void RecordCommand::start(const SystemSource& source) {
    recorder_.setSelectedSystemSource(source);
    recorder_.setSystemGain(options_.systemGain);
    recorder_.setMicrophoneGain(options_.microphoneGain);
    started_ = true;
    recorder_.startRecording(options_.directory, options_.deviceID, options_.format,
                             options_.chunkDurationSeconds);
    // Filter and output failures are reported before startRecording returns.
    if (!recorder_.isRecording() && !recorder_.errorMessage().isNull()) {
        fail(recorder_.errorMessage(), 1);
    }
}

void RecordCommand::recordingChanged() {
    if (!recorder_.isRecording() || stopping_ || !options_.durationSeconds) {
        return;
    }
    const auto durationMs = static_cast<int>(std::lround(*options_.durationSeconds * 1000.0));
    QTimer::singleShot(durationMs, Qt::PreciseTimer, this, [this] { stop(0); });
}

void RecordCommand::errorChanged() {
    const QString& message = recorder_.errorMessage();
    if (message.isNull()) {
        return;
    }
    printError(message);
    if (stopping_) {
        return;
    }
    if (message.startsWith(QStringLiteral("Stream Stopped: ")) ||
        message.startsWith(QStringLiteral("Recording failed: ")) ||
        message == QLatin1String(AudioRecorder::kNoAudioMessage)) {
        // The recorder stopped by itself and says so once its last chunk is finished.
        stopping_ = true;
        exitCode_ = 1;
        recorder_.whenStopped([this] { emit finished(exitCode_); });
    } else if (!recorder_.isRecording()) {
        // The capture never started: nothing more will be recorded.
        fail(message, 1);
    }
}

void RecordCommand::requestStop() {
    stop(0);
}

void RecordCommand::stop(int exitCode) {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    exitCode_ = exitCode;
    if (!started_) {
        return; // still listing: sourcesListed finishes
    }
    recorder_.stopRecording();
    recorder_.whenStopped([this] { emit finished(exitCode_); });
}

void RecordCommand::fail(const QString& message, int exitCode) {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    exitCode_ = exitCode;
    if (recorder_.errorMessage() != message) { // the recorder's own messages are printed as they appear
        printError(message);
    }
    if (!started_) {
        emit finished(exitCode);
        return;
    }
    recorder_.stopRecording();
    recorder_.whenStopped([this] { emit finished(exitCode_); });
}

} // namespace veltrane
