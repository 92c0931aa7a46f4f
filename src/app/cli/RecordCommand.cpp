#include "app/cli/RecordCommand.h"

#include "platform/dispatch/MainThread.h"

#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace veltrane {

namespace {

void printError(const QString& message) {
    QTextStream err(stderr);
    err << message << Qt::endl;
}

} // namespace

RecordCommand::RecordCommand(RecordOptions options, std::shared_ptr<CaptureService> capture,
                             std::shared_ptr<MediaFileWriterFactory> writerFactory, QObject* parent)
    : QObject(parent), options_(std::move(options)), capture_(capture),
      recorder_(capture, std::move(writerFactory)) {
    recorder_.onChunkReady = [this](const std::filesystem::path& path) {
        if (onChunkReady) {
            onChunkReady(path);
        }
    };
    connect(&recorder_, &AudioRecorder::errorMessageChanged, this, &RecordCommand::errorChanged);
    connect(&recorder_, &AudioRecorder::isRecordingChanged, this, &RecordCommand::recordingChanged);
}

void RecordCommand::run() {
    const QPointer<RecordCommand> guard(this);
    capture_->requestShareableContent(
        [guard](const std::expected<ShareableContentPtr, PlatformError>& result) {
            postGuarded(guard, [result](RecordCommand* self) { self->sourcesListed(result); });
        });
}

void RecordCommand::sourcesListed(const std::expected<ShareableContentPtr, PlatformError>& result) {
    if (stopping_) {
        emit finished(exitCode_);
        return;
    }
    if (!result) {
        fail(QStringLiteral("Source Error: ") + QString::fromStdString(result.error().localizedDescription),
             1);
        return;
    }
    const std::vector<SystemSource> sources = SystemSource::listFrom(*result);
    recorder_.setSystemSources(sources);
    if (sources.empty()) {
        fail(QStringLiteral("No source to record: the sound server offers no output device or application"),
             1);
        return;
    }
    auto source = sources.begin();
    if (options_.sourceID) {
        source = std::find_if(sources.begin(), sources.end(),
                              [this](const SystemSource& s) { return s.id == *options_.sourceID; });
        if (source == sources.end()) {
            fail(QStringLiteral("unknown source: %1 (see `veltrane-cli sources`)").arg(*options_.sourceID),
                 2);
            return;
        }
    }
    if (options_.microphoneID) {
        const auto microphones = capture_->microphones();
        if (!microphones) {
            fail(QStringLiteral("Source Error: ") +
                     QString::fromStdString(microphones.error().localizedDescription),
                 1);
            return;
        }
        const auto device =
            std::find_if(microphones->begin(), microphones->end(), [this](const CaptureDevice& d) {
                return QString::fromStdString(d.uniqueID) == *options_.microphoneID;
            });
        if (device == microphones->end()) {
            fail(QStringLiteral("unknown microphone: ") + *options_.microphoneID, 2);
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
    if (!recorder_.isRecording()) {
        // The capture never started (or stopped by itself): nothing more will be recorded.
        fail(message, 1);
    } else if (message.startsWith(QStringLiteral("Stream Stopped: ")) ||
               message.startsWith(QStringLiteral("Recording failed: "))) {
        // The recorder stops itself; wait for its final chunk.
        stopping_ = true;
        exitCode_ = 1;
        recorder_.whenStopped([this] { emit finished(exitCode_); });
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
