#pragma once

#include "platform/capture/CaptureService.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/session/SleepInhibitor.h"
#include "platform/settings/UserDefaults.h"
#include "recording/RecordingPipeline.h"
#include "recording/SystemSource.h"
#include "storage/ChunkRecovery.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace veltrane {

class ChunkedAudioWriter;

enum class RecordingFormat { wav, m4a };

// The controller of one recording session: opens a system-audio capture on the picked source,
// hands every buffer to its pipeline (which mixes it into a chunk writer), and reports each
// finished chunk through chunkReady. Observable properties are written on the main thread
// only; all capture callbacks and writer calls run in the pipeline on `processingQueue`.
class AudioRecorder : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(QString recordingTime READ recordingTime NOTIFY recordingTimeChanged)
    Q_PROPERTY(double audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(double systemLevel READ systemLevel NOTIFY systemLevelChanged)
    Q_PROPERTY(double micLevel READ micLevel NOTIFY micLevelChanged)
    Q_PROPERTY(float systemGain READ systemGain WRITE setSystemGain NOTIFY systemGainChanged)
    Q_PROPERTY(float microphoneGain READ microphoneGain WRITE setMicrophoneGain NOTIFY microphoneGainChanged)
    Q_PROPERTY(bool permissionError READ permissionError NOTIFY permissionErrorChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString statusNotice READ statusNotice NOTIFY statusNoticeChanged)
    Q_PROPERTY(qint64 chunksWritten READ chunksWritten NOTIFY chunksWrittenChanged)
    Q_PROPERTY(QString lastChunkName READ lastChunkName NOTIFY lastChunkNameChanged)

public:
    // User-defaults keys of the remembered source and microphone.
    static constexpr const char* kSysSourceID = "kSysSourceID";
    static constexpr const char* kMicID = "kMicID";
    // What a stop says when no audio reached the file.
    static constexpr const char* kNoAudioMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "No audio data was captured");
    // Microphone samples waiting to be mixed are bounded to half a second at the session rate.
    static constexpr std::size_t kMicQueueBoundSamples = RecordingPipeline::kMicQueueBoundSamples;

    // `userDefaults` remembers the picks across runs; without it nothing is remembered.
    AudioRecorder(std::shared_ptr<CaptureService> capture,
                  std::shared_ptr<MediaFileWriterFactory> writerFactory,
                  std::shared_ptr<UserDefaults> userDefaults = nullptr, QObject* parent = nullptr);
    ~AudioRecorder() override;

    // Observable state (main thread).
    [[nodiscard]] bool isRecording() const { return isRecording_; }
    [[nodiscard]] const QString& recordingTime() const { return recordingTime_; }
    [[nodiscard]] double audioLevel() const { return audioLevel_; }
    [[nodiscard]] double systemLevel() const { return systemLevel_; }
    [[nodiscard]] double micLevel() const { return micLevel_; }
    [[nodiscard]] float systemGain() const { return pipeline_.shared().systemGain.load(); }
    [[nodiscard]] float microphoneGain() const { return pipeline_.shared().microphoneGain.load(); }
    [[nodiscard]] bool permissionError() const { return permissionError_; }
    // Null when there is no error to show.
    [[nodiscard]] const QString& errorMessage() const { return errorMessage_; }
    // A passing state of the running recording worth a line on screen (the sound server is
    // being waited for); null when there is none.
    [[nodiscard]] const QString& statusNotice() const { return statusNotice_; }
    [[nodiscard]] const std::vector<SystemSource>& systemSources() const { return systemSources_; }
    [[nodiscard]] const std::optional<SystemSource>& selectedSystemSource() const {
        return selectedSystemSource_;
    }
    [[nodiscard]] const std::vector<InputDevice>& microphones() const { return microphones_; }
    [[nodiscard]] const std::optional<InputDevice>& selectedMicrophone() const { return selectedMicrophone_; }
    [[nodiscard]] qint64 chunksWritten() const { return chunksWritten_; }
    // Null until a chunk of the current recording has been finished.
    [[nodiscard]] const QString& lastChunkName() const { return lastChunkName_; }

    void setSystemGain(float gain);
    void setMicrophoneGain(float gain);
    void setSystemSources(std::vector<SystemSource> sources);
    void setSelectedSystemSource(std::optional<SystemSource> source);
    void setMicrophones(std::vector<InputDevice> devices);
    void setSelectedMicrophone(std::optional<InputDevice> device);

    // Lists the sources and microphones and restores the remembered picks; emits
    // sourcesRefreshed() when done (whether the listing succeeded or not). From then on the lists
    // follow the sound server: programs that start playing are added, ended ones removed (the
    // current pick stays, shown as unavailable).
    void refreshSources();
    // Remembers the current picks.
    void saveSelections();
    // Shows a refusal of the screen that owns the recorder (such as an invalid device
    // identifier) in the recorder's error text.
    void reportError(const QString& message) { setErrorMessage(message); }

    // What the chunks are filed under from now on (none: not filed), kept in the recovery
    // record of the chunk being written so that a chunk recovered after a crash is filed the
    // same way. Main thread.
    void setChunkFiling(std::optional<ChunkFiling> filing);

    // Held from the capture's start until the recording stops (whatever stops it) and given
    // back when the recorder goes. Without one nothing is held. Main thread.
    void setSleepInhibitor(std::shared_ptr<SleepInhibitor> inhibitor) {
        sleepInhibitor_ = std::move(inhibitor);
    }

    // Starts a recording into `directory`; returns at once, capture start completes later.
    // Does nothing when no source is picked.
    void startRecording(const std::filesystem::path& directory, const QString& deviceID,
                        RecordingFormat format, double chunkDurationSeconds);
    void stopRecording();

    // Runs `callback` on the main thread once everything the last stop started has ended:
    // the final clean-up has run and every chunk of the recording has been finalised and
    // reported. Runs soon when no recording is winding down.
    void whenStopped(std::function<void()> callback);

    // Elapsed time as shown while recording: "%02d:%02d" of minutes (not wrapped) and seconds.
    [[nodiscard]] static QString formatRecordingTime(std::int64_t seconds);

    // The serial queue all capture callbacks and writer calls run on.
    [[nodiscard]] SerialQueue& processingQueue() { return *processingQueue_; }

signals:
    // Emitted on the main thread once per finished chunk, with the chunk file's final path and
    // what chunks are filed under at that moment (see setChunkFiling). Every chunk of a
    // recording is reported before the callbacks of whenStopped run.
    void chunkReady(const std::filesystem::path& chunk, const std::optional<ChunkFiling>& filing);
    void isRecordingChanged();
    void recordingTimeChanged();
    void audioLevelChanged();
    void systemLevelChanged();
    void micLevelChanged();
    void systemGainChanged();
    void microphoneGainChanged();
    void permissionErrorChanged();
    void errorMessageChanged();
    void statusNoticeChanged();
    void systemSourcesChanged();
    void selectedSystemSourceChanged();
    void microphonesChanged();
    void selectedMicrophoneChanged();
    void chunksWrittenChanged();
    void lastChunkNameChanged();
    void sourcesRefreshed();

private:
    // What the pipeline calls on the processing queue; each call posts to the main thread.
    [[nodiscard]] RecordingPipeline::SessionLink makeSessionLink();
    // Main thread from here on.
    void showLevels(const RecordingPipeline::Levels& levels);
    void createChunkWriter(const std::filesystem::path& directory, const QString& deviceID,
                           RecordingFormat format, double chunkDurationSeconds, std::uint64_t generation);
    [[nodiscard]] std::optional<CaptureTarget> makeCaptureTarget();
    void setupMicrophone(const InputDevice& device);
    void sourcesListed(const std::expected<CaptureSourcesPtr, PlatformError>& content,
                       const std::expected<std::vector<InputDevice>, PlatformError>& microphones);
    void setPermissionError(bool value);
    // The server announced a change: lists again, soon, once per burst of announcements.
    void sourcesChangedOnServer();
    using ListsHandler =
        void (AudioRecorder::*)(const std::expected<CaptureSourcesPtr, PlatformError>&,
                                const std::expected<std::vector<InputDevice>, PlatformError>&);
    // Lists the sources and microphones off the main thread (and, when asked and the server
    // answered, opens a watch of its announcements), then hands both lists to `handler` on the
    // main thread.
    void requestLists(bool openWatch, ListsHandler handler);
    void sourcesUpdated(const std::expected<CaptureSourcesPtr, PlatformError>& content,
                        const std::expected<std::vector<InputDevice>, PlatformError>& microphones);
    void captureStarted();
    void updateRecordingTime();
    void setIsRecording(bool value);
    void setRecordingTime(const QString& value);
    void setAudioLevel(double value);
    void setSystemLevel(double value);
    void setMicLevel(double value);
    void setErrorMessage(const QString& value);
    void setStatusNotice(const QString& value);
    void streamNotice(const SystemAudioStream::Notice& notice);
    void setChunksWritten(qint64 value);
    void setLastChunkName(const QString& value);
    void chunkFinished(const std::filesystem::path& path, std::uint64_t generation);
    void finishWindingDown();
    // A recording that stops by itself: stops it, then shows `message`.
    void stopWithError(const QString& message);

    std::shared_ptr<CaptureService> capture_;
    std::shared_ptr<MediaFileWriterFactory> writerFactory_;
    std::shared_ptr<UserDefaults> userDefaults_;
    QPointer<AudioRecorder> self_{this};

    // Observable properties (main thread).
    bool isRecording_ = false;
    QString recordingTime_ = QStringLiteral("00:00");
    double audioLevel_ = 0;
    double systemLevel_ = 0;
    double micLevel_ = 0;
    bool permissionError_ = false;
    QString errorMessage_;
    QString statusNotice_;
    std::vector<SystemSource> systemSources_;
    std::optional<SystemSource> selectedSystemSource_;
    std::vector<InputDevice> microphones_;
    std::optional<InputDevice> selectedMicrophone_;
    qint64 chunksWritten_ = 0;
    QString lastChunkName_;

    // Main-thread fields.
    std::unique_ptr<SystemAudioStream> stream_;
    // Shared with the background start of the session, which may still run when a stop
    // releases it here.
    std::shared_ptr<MicrophoneCapture> micSession_;
    std::shared_ptr<ChunkedAudioWriter> chunkWriter_;
    std::optional<ChunkFiling> chunkFiling_;
    std::shared_ptr<SleepInhibitor> sleepInhibitor_;
    std::shared_ptr<CaptureService::SourceWatch> sourceWatch_;
    bool sourceWatchRequested_ = false;
    QTimer* relistTimer_ = nullptr; // gathers a burst of the server's announcements
    static constexpr int kRelistDelayMilliseconds = 300;
    // How often the lists are asked for while the sound server is away and no watch can say
    // that it is back.
    static constexpr int kRewatchIntervalMilliseconds = 1000;
    std::optional<std::chrono::steady_clock::time_point> startTime_;
    QTimer* timer_ = nullptr;
    int windingDown_ = 0; // stops whose clean-up or chunk finalisation is still running
    // Counts starts and stops so a capture completion that arrives after a stop (or a later
    // start) does not flip the recording state.
    std::uint64_t captureEpoch_ = 0;
    // Identifies the current recording: every late post (stream stopped, capture error, chunk
    // reports, the stop's clean-up) carries the generation that made it and touches only
    // what still belongs to that recording.
    std::uint64_t generation_ = 0;
    // Streams of stopped recordings, kept until their clean-up has run (or the recorder goes).
    std::vector<std::pair<std::uint64_t, std::unique_ptr<SystemAudioStream>>> stoppingStreams_;
    // Starts microphones off the main thread; joined by the destructor.
    std::unique_ptr<SerialQueue> microphoneStarter_ = std::make_unique<SerialQueue>("microphone.start");
    std::vector<std::function<void()>> stoppedCallbacks_;

    // The processing side; its tasks run on processingQueue_.
    RecordingPipeline pipeline_{makeSessionLink()};

    // Declared last: destroyed first, so every task still queued runs while the fields
    // above (the pipeline above all) exist.
    std::unique_ptr<SerialQueue> processingQueue_;
};

} // namespace veltrane
