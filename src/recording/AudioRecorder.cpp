#include "recording/AudioRecorder.h"

#include "platform/core/Log.h"
#include "platform/dispatch/MainThread.h"
#include "storage/ChunkedAudioWriter.h"

#include <algorithm>
#include <cmath>

namespace veltrane {

namespace {

constexpr int kTargetSampleRate = 48000;

} // namespace

QString AudioRecorder::formatRecordingTime(std::int64_t seconds) {
    return QString::asprintf("%02lld:%02lld", static_cast<long long>(seconds / 60),
                             static_cast<long long>(seconds % 60));
}

AudioRecorder::AudioRecorder(std::shared_ptr<CaptureService> capture,
                             std::shared_ptr<MediaFileWriterFactory> writerFactory,
                             std::shared_ptr<UserDefaults> userDefaults, QObject* parent)
    : QObject(parent), capture_(std::move(capture)), writerFactory_(std::move(writerFactory)),
      userDefaults_(std::move(userDefaults)),
      processingQueue_(std::make_unique<SerialQueue>("audio.processing.queue")) {}

AudioRecorder::~AudioRecorder() {
    // Nothing that calls into this recorder may outlive it. After a stream's destructor none of
    // its callbacks runs any more, so the streams go first. Then the microphone starter is
    // joined and the processing queue runs what is queued (stop clean-ups let go of their
    // microphone sessions there), so the reference dropped last here ends the microphone's
    // deliveries before the pipeline its handler uses is destroyed.
    stream_.reset();
    stoppingStreams_.clear();
    microphoneStarter_.reset();
    processingQueue_->waitUntilDrained();
    micSession_.reset();
}

// MARK: - Observable setters

void AudioRecorder::setIsRecording(bool value) {
    if (isRecording_ != value) {
        isRecording_ = value;
        emit isRecordingChanged();
    }
}

void AudioRecorder::setRecordingTime(const QString& value) {
    if (recordingTime_ != value) {
        recordingTime_ = value;
        emit recordingTimeChanged();
    }
}

void AudioRecorder::setAudioLevel(double value) {
    audioLevel_ = value;
    emit audioLevelChanged();
}

void AudioRecorder::setSystemLevel(double value) {
    systemLevel_ = value;
    emit systemLevelChanged();
}

void AudioRecorder::setMicLevel(double value) {
    micLevel_ = value;
    emit micLevelChanged();
}

void AudioRecorder::setSystemGain(float gain) {
    if (pipeline_.shared().systemGain.exchange(gain) != gain) {
        emit systemGainChanged();
    }
}

void AudioRecorder::setMicrophoneGain(float gain) {
    if (pipeline_.shared().microphoneGain.exchange(gain) != gain) {
        emit microphoneGainChanged();
    }
}

void AudioRecorder::setErrorMessage(const QString& value) {
    if (errorMessage_ != value || errorMessage_.isNull() != value.isNull()) {
        errorMessage_ = value;
        emit errorMessageChanged();
    }
}

void AudioRecorder::setStatusNotice(const QString& value) {
    if (statusNotice_ != value || statusNotice_.isNull() != value.isNull()) {
        statusNotice_ = value;
        emit statusNoticeChanged();
    }
}

void AudioRecorder::streamNotice(const SystemAudioStream::Notice& notice) {
    switch (notice.kind) {
    case SystemAudioStream::Notice::Kind::reconnecting:
        setStatusNotice(tr("Sound server restarted — reconnecting…"));
        return;
    case SystemAudioStream::Notice::Kind::reconnected:
        setStatusNotice(QString());
        return;
    case SystemAudioStream::Notice::Kind::deviceChanged:
        break;
    }
    // The followed default output is another device now: the source row names it.
    const QString name = SystemSource::defaultOutputName(notice.detail);
    const auto rename = [&name, &notice](SystemSource& source) {
        if (source.output && source.output->name == kDefaultOutputDeviceName) {
            source.name = name;
            source.output->description = notice.detail;
        }
    };
    std::vector<SystemSource> sources = systemSources_;
    std::for_each(sources.begin(), sources.end(), rename);
    setSystemSources(std::move(sources));
    if (selectedSystemSource_) {
        std::optional<SystemSource> selected = selectedSystemSource_;
        rename(*selected);
        setSelectedSystemSource(std::move(selected));
    }
}

void AudioRecorder::setChunksWritten(qint64 value) {
    if (chunksWritten_ != value) {
        chunksWritten_ = value;
        emit chunksWrittenChanged();
    }
}

void AudioRecorder::setLastChunkName(const QString& value) {
    if (lastChunkName_ != value || lastChunkName_.isNull() != value.isNull()) {
        lastChunkName_ = value;
        emit lastChunkNameChanged();
    }
}

void AudioRecorder::setSystemSources(std::vector<SystemSource> sources) {
    systemSources_ = std::move(sources);
    emit systemSourcesChanged();
}

void AudioRecorder::setSelectedSystemSource(std::optional<SystemSource> source) {
    selectedSystemSource_ = std::move(source);
    emit selectedSystemSourceChanged();
}

void AudioRecorder::setMicrophones(std::vector<InputDevice> devices) {
    microphones_ = std::move(devices);
    emit microphonesChanged();
}

void AudioRecorder::setSelectedMicrophone(std::optional<InputDevice> device) {
    selectedMicrophone_ = std::move(device);
    emit selectedMicrophoneChanged();
}

void AudioRecorder::setPermissionError(bool value) {
    if (permissionError_ != value) {
        permissionError_ = value;
        emit permissionErrorChanged();
    }
}

// MARK: - Sources and microphones

void AudioRecorder::refreshSources() {
    requestLists(!std::exchange(sourceWatchRequested_, true), &AudioRecorder::sourcesListed);
}

void AudioRecorder::requestLists(bool openWatch, ListsHandler handler) {
    const QPointer<AudioRecorder> guard = self_;
    capture_->requestSources([guard, openWatch, handler, capture = capture_](
                                 const std::expected<CaptureSourcesPtr, PlatformError>& content) {
        // Still on the platform's thread: the microphone listing and the watch wait on the sound
        // server too, and must not do so on the main thread.
        auto microphones =
            content ? capture->microphones() : std::expected<std::vector<InputDevice>, PlatformError>{};
        std::shared_ptr<CaptureService::SourceWatch> sourceWatch;
        if (openWatch && content) {
            sourceWatch = capture->watchSources(
                [guard] { postGuarded(guard, [](AudioRecorder* self) { self->sourcesChangedOnServer(); }); });
        }
        postGuarded(guard, [content, microphones = std::move(microphones),
                            sourceWatch = std::move(sourceWatch), handler](AudioRecorder* self) mutable {
            if (sourceWatch) {
                self->sourceWatch_ = std::move(sourceWatch);
            }
            (self->*handler)(content, microphones);
        });
    });
}

void AudioRecorder::sourcesChangedOnServer() {
    if (!relistTimer_) {
        relistTimer_ = new QTimer(this);
        relistTimer_->setSingleShot(true);
        connect(relistTimer_, &QTimer::timeout, this, [this] {
            // A watch that lost the sound server (a restart) is replaced by a new one.
            const bool rewatch = sourceWatch_ && sourceWatch_->isLost();
            requestLists(rewatch, &AudioRecorder::sourcesUpdated);
        });
    }
    if (!relistTimer_->isActive()) {
        relistTimer_->start(kRelistDelayMilliseconds);
    }
}

void AudioRecorder::sourcesUpdated(
    const std::expected<CaptureSourcesPtr, PlatformError>& content,
    const std::expected<std::vector<InputDevice>, PlatformError>& microphones) {
    // Without a watch that could announce the sound server's return, it is asked again in a while.
    if (sourceWatch_ && sourceWatch_->isLost()) {
        relistTimer_->start(kRewatchIntervalMilliseconds);
    }
    if (!content || !microphones) {
        return; // the lists stay as they are; the next announcement tries again
    }
    std::vector<SystemSource> sources = SystemSource::listFrom(*content);
    const QString unavailable = QStringLiteral(" (unavailable)");
    if (selectedSystemSource_) {
        const auto match = std::find_if(sources.begin(), sources.end(), [this](const SystemSource& source) {
            return source.id == selectedSystemSource_->id;
        });
        if (match == sources.end()) {
            SystemSource gone = *selectedSystemSource_;
            gone.name += unavailable;
            sources.push_back(std::move(gone));
        } else if (!isRecording_) {
            setSelectedSystemSource(*match); // the newer snapshot
        }
    }
    std::vector<InputDevice> devices = *microphones;
    if (selectedMicrophone_ && std::none_of(devices.begin(), devices.end(), [this](const InputDevice& d) {
            return d.name == selectedMicrophone_->name;
        })) {
        InputDevice gone = *selectedMicrophone_;
        gone.description += unavailable.toStdString();
        devices.push_back(std::move(gone));
    }
    setSystemSources(std::move(sources));
    setMicrophones(std::move(devices));
}

void AudioRecorder::sourcesListed(const std::expected<CaptureSourcesPtr, PlatformError>& content,
                                  const std::expected<std::vector<InputDevice>, PlatformError>& microphones) {
    if (!content) {
        if (content.error().kind == PlatformError::Kind::permissionDenied) {
            setPermissionError(true);
        } else {
            setErrorMessage(QStringLiteral("Source Error: ") +
                            QString::fromStdString(content.error().localizedDescription));
        }
        emit sourcesRefreshed();
        return;
    }
    // A microphone listing that fails costs only the microphones: the system-audio sources
    // are still offered, so a recording without a microphone stays possible.
    if (!microphones) {
        logWarning(lcRecording(),
                   "⚠️ Could not list microphones: " + microphones.error().fullDescription());
    }
    setPermissionError(false);
    setSystemSources(SystemSource::listFrom(*content));
    setMicrophones(microphones ? *microphones : std::vector<InputDevice>{});

    // Both remembered picks are read before either is saved again: saving the source pick also
    // writes the (not yet restored) microphone pick, which would forget the remembered one.
    const std::int64_t saved = userDefaults_ ? userDefaults_->integer(QString::fromLatin1(kSysSourceID)) : 0;
    const std::optional<QString> savedMic =
        userDefaults_ ? userDefaults_->string(QString::fromLatin1(kMicID)) : std::nullopt;
    const auto match = std::find_if(systemSources_.begin(), systemSources_.end(),
                                    [saved](const SystemSource& source) { return source.id == saved; });
    if (match != systemSources_.end()) {
        setSelectedSystemSource(*match);
    } else if (!systemSources_.empty()) {
        setSelectedSystemSource(systemSources_.front());
    } else {
        setSelectedSystemSource(std::nullopt);
    }
    saveSelections();

    std::optional<InputDevice> microphone;
    if (savedMic) {
        const auto device = std::find_if(microphones_.begin(), microphones_.end(), [&](const InputDevice& d) {
            return QString::fromStdString(d.name) == *savedMic;
        });
        if (device != microphones_.end()) {
            microphone = *device;
        }
    }
    setSelectedMicrophone(microphone);
    saveSelections();
    emit sourcesRefreshed();
}

void AudioRecorder::saveSelections() {
    if (!userDefaults_) {
        return;
    }
    if (selectedSystemSource_) {
        userDefaults_->setInteger(QString::fromLatin1(kSysSourceID), selectedSystemSource_->id);
    }
    if (selectedMicrophone_) {
        userDefaults_->setString(QString::fromLatin1(kMicID),
                                 QString::fromStdString(selectedMicrophone_->name));
    } else {
        userDefaults_->remove(QString::fromLatin1(kMicID));
    }
}

// MARK: - Starting

void AudioRecorder::startRecording(const std::filesystem::path& directory, const QString& deviceID,
                                   RecordingFormat format, double chunkDurationSeconds) {
    if (!selectedSystemSource_) {
        return;
    }
    const SystemSource source = *selectedSystemSource_;
    logInfo(lcRecording(), "=== Start Recording ===");
    logInfo(lcRecording(), "Output folder: " + directory.string());
    logInfo(lcRecording(), "Device ID: " + deviceID.toStdString());
    logInfo(lcRecording(), std::string("Format: ") + (format == RecordingFormat::wav ? "WAV" : "M4A"));
    logInfo(lcRecording(),
            "Chunk length: " + std::to_string(static_cast<long long>(std::trunc(chunkDurationSeconds))) +
                "s");
    logInfo(lcRecording(), "Source: " + source.name.toStdString());

    const std::uint64_t generation = ++generation_;
    setErrorMessage(QString());
    pipeline_.shared().sessionStarted = false;
    pipeline_.shared().samplesWritten = false;
    setChunksWritten(0);
    setLastChunkName(QString());

    createChunkWriter(directory, deviceID, format, chunkDurationSeconds, generation);
    logInfo(lcRecording(), "✅ Chunk writer created");

    if (!selectedMicrophone_) {
        micSession_.reset(); // a session of an earlier recording; its stop clean-up ends it
        processingQueue_->post([this] { pipeline_.prepareMicrophone(MicrophoneInput::absent); });
        logInfo(lcRecording(), "ℹ️ No microphone selected");
    } else {
        processingQueue_->post([this] { pipeline_.prepareMicrophone(MicrophoneInput::present); });
        setupMicrophone(*selectedMicrophone_);
        logInfo(lcRecording(), "✅ Microphone configured: " + selectedMicrophone_->description);
    }

    const StreamSettings settings{.sampleRate = kTargetSampleRate, .channelCount = 2};
    logDebug(lcRecording(), "📡 Stream config: " + std::to_string(settings.sampleRate) + "Hz, " +
                                std::to_string(settings.channelCount) + " channels");

    const std::optional<CaptureTarget> target = makeCaptureTarget();
    if (!target) {
        return;
    }

    const QPointer<AudioRecorder> guard = self_;
    stream_ = capture_->makeStream(*target, settings, [guard, generation](const PlatformError& error) {
        postGuarded(guard, [error, generation](AudioRecorder* self) {
            if (self->generation_ != generation || !self->stream_) {
                return; // that recording has been stopped already
            }
            self->stopWithError(QStringLiteral("Stream Stopped: ") +
                                QString::fromStdString(error.localizedDescription));
        });
    });

    stream_->setNoticeHandler([guard, generation](const SystemAudioStream::Notice& notice) {
        postGuarded(guard, [notice, generation](AudioRecorder* self) {
            if (self->generation_ == generation && self->stream_) {
                self->streamNotice(notice);
            }
        });
    });

    const auto added = stream_->setAudioHandler(
        *processingQueue_, [this](const SampleBufferPtr& buffer) { pipeline_.handleSystemAudio(buffer); });
    if (!added) {
        const PlatformError* error = &added.error();
        setErrorMessage(QStringLiteral("Setup Error: ") +
                        QString::fromStdString(error->localizedDescription));
        logCritical(lcRecording(), "❌ Stream setup error: " + error->fullDescription());
        return;
    }
    logInfo(lcRecording(), "✅ Stream output added (audio)");

    const std::uint64_t epoch = ++captureEpoch_;
    stream_->startCapture([guard, epoch, generation](const std::expected<void, PlatformError>& started) {
        if (started) {
            logInfo(lcRecording(), "✅ Capture started successfully");
            postGuarded(guard, [epoch](AudioRecorder* self) {
                if (self->captureEpoch_ == epoch) {
                    self->captureStarted();
                }
            });
            return;
        }
        const PlatformError* error = &started.error();
        logCritical(lcRecording(), "❌ Capture failed: " + error->localizedDescription);
        postGuarded(guard, [generation, description = error->localizedDescription](AudioRecorder* self) {
            if (self->generation_ != generation) {
                return; // a later recording has started meanwhile
            }
            self->setErrorMessage(QStringLiteral("Capture Error: ") + QString::fromStdString(description));
        });
    });

    // The microphone starts right away, without waiting for the capture's outcome, and off the
    // main thread because starting a device may take a moment.
    if (micSession_) {
        microphoneStarter_->post([session = micSession_] { session->startRunning(); });
    }
}

void AudioRecorder::setupMicrophone(const InputDevice& device) {
    micSession_.reset();
    auto session = capture_->makeMicrophoneCapture(device);
    if (!session) {
        return; // the recording runs with system audio only
    }
    micSession_ = std::shared_ptr<MicrophoneCapture>(std::move(*session));
    micSession_->setSampleBufferHandler(*processingQueue_, [this](const SampleBufferPtr& buffer) {
        pipeline_.handleMicrophoneBuffer(buffer);
    });
    micSession_->setDisconnectHandler([name = device.description](const PlatformError& error) {
        logWarning(lcRecording(), "⚠️ Microphone " + name + " stopped delivering audio (" +
                                      error.localizedDescription +
                                      "); recording continues with system audio only");
    });
}

void AudioRecorder::createChunkWriter(const std::filesystem::path& directory, const QString& deviceID,
                                      RecordingFormat format, double chunkDurationSeconds,
                                      std::uint64_t generation) {
    const bool isWav = format == RecordingFormat::wav;
    ChunkedAudioWriter::Configuration configuration;
    configuration.deviceID = deviceID.toStdString();
    configuration.directory = directory;
    configuration.chunkDuration = chunkDurationSeconds;
    configuration.outputSettings =
        isWav ? AudioOutputSettings::wav16Stereo48k() : AudioOutputSettings::aacStereo48k();
    configuration.fileType = isWav ? MediaFileType::wave : MediaFileType::appleM4A;
    configuration.fileExtension = isWav ? "wav" : "m4a";
    configuration.filing = chunkFiling_;
    logDebug(lcRecording(), "📝 Writer settings: " + configuration.outputSettings.describe());

    auto writer = std::make_shared<ChunkedAudioWriter>(configuration, writerFactory_);
    const QPointer<AudioRecorder> guard = self_;
    writer->onChunkFinished = [guard, generation](const std::filesystem::path& path) {
        postGuarded(guard,
                    [path, generation](AudioRecorder* self) { self->chunkFinished(path, generation); });
    };
    writer->onError = [guard, generation](const ChunkWriterError& error) {
        postGuarded(guard, [generation, description = error.localizedDescription()](AudioRecorder* self) {
            if (self->generation_ != generation) {
                // The text on screen belongs to a later recording now.
                logWarning(lcRecording(), "⚠️ Chunk error of an earlier recording: " + description);
                return;
            }
            self->setErrorMessage(QStringLiteral("Chunk error: ") + QString::fromStdString(description));
        });
    };
    chunkWriter_ = writer;
    // The processing side gets its own reference through the queue, so buffers still queued
    // from an earlier recording never reach the new writer's predecessor or vice versa.
    processingQueue_->post([this, writer, generation] { pipeline_.beginRecording(writer, generation); });
}

void AudioRecorder::setChunkFiling(std::optional<ChunkFiling> filing) {
    chunkFiling_ = filing;
    processingQueue_->post([this, filing = std::move(filing)] { pipeline_.setFiling(filing); });
}

std::optional<CaptureTarget> AudioRecorder::makeCaptureTarget() {
    const SystemSource& source = *selectedSystemSource_;
    CaptureTarget target;
    if (!source.output) {
        if (!source.app || !source.snapshot || source.snapshot->outputs.empty()) {
            setErrorMessage(
                QString::fromLatin1(QT_TRANSLATE_NOOP("veltrane::Messages", "Invalid source configuration")));
            logCritical(lcRecording(), "❌ Could not create content filter");
            return std::nullopt;
        }
        target.mode = CaptureTarget::Mode::applicationsOnly;
        target.output = source.snapshot->outputs.front();
        target.applications = {*source.app};
        logInfo(lcRecording(), "✅ App filter created for: " + source.app->applicationName);
        return target;
    }
    target.mode = CaptureTarget::Mode::outputExcludingApplications;
    target.output = *source.output;
    const std::string ownIdentifier = capture_->ownExecutableName();
    if (source.snapshot && !ownIdentifier.empty()) {
        for (const RunningApplication& app : source.snapshot->applications) {
            if (app.binaryName == ownIdentifier) {
                target.applications.push_back(app);
            }
        }
    }
    logInfo(lcRecording(),
            "✅ Display filter created (excluding " + std::to_string(target.applications.size()) + " apps)");
    return target;
}

void AudioRecorder::captureStarted() {
    startTime_ = std::chrono::steady_clock::now();
    setIsRecording(true);
    if (sleepInhibitor_) {
        sleepInhibitor_->hold();
    }
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setInterval(1000);
        connect(timer_, &QTimer::timeout, this, &AudioRecorder::updateRecordingTime);
    }
    timer_->start();
}

void AudioRecorder::updateRecordingTime() {
    if (!startTime_) {
        return;
    }
    const auto elapsed = std::chrono::steady_clock::now() - *startTime_;
    setRecordingTime(formatRecordingTime(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count()));
}

// MARK: - The pipeline's reports

RecordingPipeline::SessionLink AudioRecorder::makeSessionLink() {
    const QPointer<AudioRecorder> guard = self_;
    RecordingPipeline::SessionLink link;
    link.levelsPending = [guard] {
        postGuarded(guard, [](AudioRecorder* self) { self->showLevels(self->pipeline_.takeLevels()); });
    };
    link.recordingFailed = [guard](std::uint64_t generation, const std::string& description) {
        postGuarded(guard, [generation, description](AudioRecorder* self) {
            if (self->generation_ != generation) {
                return; // that recording has been stopped and another started
            }
            self->stopWithError(QStringLiteral("Recording failed: ") + QString::fromStdString(description));
        });
    };
    return link;
}

void AudioRecorder::showLevels(const RecordingPipeline::Levels& levels) {
    if (levels.system) {
        setSystemLevel(*levels.system);
    }
    if (levels.microphone) {
        setMicLevel(*levels.microphone);
    }
    if (levels.output) {
        setAudioLevel(*levels.output);
    }
}

// MARK: - Chunk hand-off (main thread)

void AudioRecorder::chunkFinished(const std::filesystem::path& path, std::uint64_t generation) {
    // A late chunk of an earlier recording is still handed on, but not counted for this one.
    if (generation == generation_) {
        setChunksWritten(chunksWritten_ + 1);
        setLastChunkName(QString::fromStdString(path.filename().string()));
    }
    emit chunkReady(path, chunkFiling_);
}

// MARK: - Stopping

void AudioRecorder::stopRecording() {
    logInfo(lcRecording(), "=== Stop Recording Called ===");
    logDebug(lcRecording(), std::string("Samples written: ") +
                                (pipeline_.shared().samplesWritten.load() ? "true" : "false"));
    logDebug(lcRecording(), std::string("Session started: ") +
                                (pipeline_.shared().sessionStarted.load() ? "true" : "false"));

    if (timer_) {
        timer_->stop();
    }
    startTime_.reset();
    ++captureEpoch_;
    if (sleepInhibitor_) {
        sleepInhibitor_->release();
    }
    setStatusNotice(QString());

    postGuarded(self_, [](AudioRecorder* self) {
        self->setIsRecording(false);
        self->setAudioLevel(0);
        self->setRecordingTime(QStringLiteral("00:00"));
    });

    const std::shared_ptr<ChunkedAudioWriter> writer = chunkWriter_;
    const bool hadSamples = pipeline_.shared().samplesWritten.load();
    const std::uint64_t generation = generation_;

    if (stream_) {
        stream_->stopCapture([](const std::expected<void, PlatformError>& stopped) {
            if (const PlatformError* error = stopped ? nullptr : &stopped.error()) {
                logWarning(lcRecording(), "Stop capture error: " + error->fullDescription());
            } else {
                logInfo(lcRecording(), "Stream stopped successfully");
            }
        });
        // Kept until the clean-up has run, apart from the field a new recording will use.
        stoppingStreams_.emplace_back(generation, std::move(stream_));
    }

    ++windingDown_;
    processingQueue_->post([this, writer, hadSamples, generation, microphone = micSession_] {
        pipeline_.stop(writer, microphone);
        // Only the session's address goes to the main thread: a post may run after the recorder
        // is gone, and the recorder's destructor must be the one that ends every session.
        postGuarded(self_,
                    [writer, hadSamples, generation, microphone = microphone.get()](AudioRecorder* self) {
                        if (self->chunkWriter_ == writer) {
                            self->chunkWriter_.reset();
                        }
                        std::erase_if(self->stoppingStreams_,
                                      [generation](const auto& entry) { return entry.first == generation; });
                        if (self->generation_ == generation && self->micSession_.get() == microphone) {
                            self->micSession_.reset();
                        }
                        if (!hadSamples && self->generation_ == generation) {
                            self->setErrorMessage(QString::fromLatin1(kNoAudioMessage));
                        }
                        if (!writer) {
                            self->finishWindingDown();
                            return;
                        }
                        // The final chunk is finalised in the background; the wind-down ends once the
                        // writer has reported every chunk it closed.
                        const QPointer<AudioRecorder> guard = self->self_;
                        writer->whenFinalized([guard] {
                            postGuarded(guard, [](AudioRecorder* r) { r->finishWindingDown(); });
                        });
                    });
    });
}

void AudioRecorder::stopWithError(const QString& message) {
    // The last chunk is finished and reported before the error is shown (and before a command
    // line that waits for the error exits).
    stopRecording();
    const std::uint64_t generation = generation_;
    whenStopped([guard = self_, generation, message] {
        // Unless the stop itself found that nothing was recorded, which says more.
        if (guard && guard->generation_ == generation &&
            guard->errorMessage_ != QLatin1String(kNoAudioMessage)) {
            guard->setErrorMessage(message);
        }
    });
}

void AudioRecorder::finishWindingDown() {
    if (windingDown_ > 0) {
        --windingDown_;
    }
    if (windingDown_ == 0) {
        std::vector<std::function<void()>> callbacks;
        callbacks.swap(stoppedCallbacks_);
        for (const auto& callback : callbacks) {
            callback();
        }
    }
}

void AudioRecorder::whenStopped(std::function<void()> callback) {
    if (windingDown_ == 0) {
        postGuarded(self_, [callback = std::move(callback)](AudioRecorder*) { callback(); });
        return;
    }
    stoppedCallbacks_.push_back(std::move(callback));
}

} // namespace veltrane
