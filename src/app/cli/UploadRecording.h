#pragma once

#include <QObject>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace veltrane {

class RecordCommand;
class SignalWatcher;
class UploadHandoff;
class UploadServices;
class UploadSettleWatcher;

// The upload side of `veltrane-cli record --project ID [--meeting ID]`: queues every finished
// chunk for upload while recording and, once the recording has stopped, keeps uploading until
// the queue has settled or an interruption arrives. Main thread only.
class UploadRecording : public QObject {
    Q_OBJECT
public:
    UploadRecording(std::unique_ptr<UploadServices> services, std::string projectId,
                    std::optional<std::string> meetingId, QObject* parent = nullptr);
    ~UploadRecording() override;

    // Services from the environment with `chunkDirectory` as the chunk folder; null (reason on
    // standard error, exit code in `exitCode`: 2 for an unusable server URL, 1 when another
    // process holds the upload queue).
    [[nodiscard]] static std::unique_ptr<UploadRecording> create(const std::filesystem::path& chunkDirectory,
                                                                 std::string projectId,
                                                                 std::optional<std::string> meetingId,
                                                                 int& exitCode);

    // Takes the recording's chunks and end, and SIGINT/SIGTERM: while recording they stop the
    // recording, while waiting for the uploads they end the wait. Then runs start().
    void attach(RecordCommand& record, SignalWatcher& signalWatcher);
    // Reconnects the upload session and starts the name lookup.
    void start();
    // The recorder's chunk hand-off.
    void chunkReady(const std::filesystem::path& chunkFile);
    // The recording has ended with `exitCode`: wait for the uploads, then emit finished().
    void recordingFinished(int exitCode);
    [[nodiscard]] bool isWaitingForUploads() const { return recordingDone_; }
    // SIGINT/SIGTERM while waiting for the uploads: finish now, leaving the rest queued.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    void finish();

    std::unique_ptr<UploadServices> services_;
    std::unique_ptr<UploadHandoff> handoff_;
    std::unique_ptr<UploadSettleWatcher> watcher_;
    bool recordingDone_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
};

} // namespace veltrane
