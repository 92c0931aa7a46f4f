#pragma once

#include "app/AppEnvironment.h"

#include <QObject>
#include <QPointer>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace veltrane {

class RecordCommand;
class SignalWatcher;
class UploadRunReport;
class UploadSettleWatcher;

// The upload side of `veltrane-cli record --project ID [--meeting ID]`: queues every finished
// chunk for upload while recording and, once the recording has stopped, keeps uploading until
// only waiting is left or an interruption arrives. Main thread only.
//
// The recording never waits for the server: it starts at once while the project is checked
// beside it. Chunks finished before the answer wait for it; a project the server refuses
// leaves the chunks unqueued and the end names the `enqueue` command that queues them.
class UploadRecording : public QObject {
    Q_OBJECT
public:
    static constexpr int kProjectRefusedExitCode = 2;

    // `env` must hold the upload queue and outlive this object. `filing` carries the project and
    // meeting ids every chunk is filed under.
    UploadRecording(AppEnvironment& env, ChunkFiling filing, QObject* parent = nullptr);
    ~UploadRecording() override;

    // Takes the recording's chunks (the environment files them, and this object keeps them back
    // until the project check answers) and end, and SIGINT/SIGTERM: while recording they stop
    // the recording, while waiting for the uploads they end the wait. Reconnects the upload
    // session.
    void attach(RecordCommand& record, SignalWatcher& signalWatcher);
    // The server knows the project (and meeting) under these names, or could not be asked:
    // chunks are queued.
    void assignmentConfirmed(ChunkFiling names);
    // The server refused the project or meeting: chunks are kept but not queued.
    void assignmentRefused(const QString& message);
    // A chunk the recorder reported: whether the environment files it now. Until the server
    // answers it is held, after a refusal it stays unqueued.
    [[nodiscard]] bool chunkReady(const std::filesystem::path& chunkFile);
    // The recording has ended with `exitCode`: wait for the uploads, then emit finished().
    void recordingFinished(int exitCode);
    // SIGINT/SIGTERM while waiting for the uploads: finish now, leaving the rest queued.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    enum class Check { running, confirmed, refused };

    void take(const std::filesystem::path& chunkFile);
    void watchWhenIdle();
    void finish();
    [[nodiscard]] std::string enqueueCommand(const std::vector<std::filesystem::path>& files) const;

    AppEnvironment& env_;
    ChunkFiling assignment_;
    QPointer<RecordCommand> record_;
    std::unique_ptr<UploadSettleWatcher> watcher_;
    std::unique_ptr<UploadRunReport> report_;
    Check check_ = Check::running;
    // Chunks finished before the project check answered, and chunks left unqueued.
    std::vector<std::filesystem::path> held_;
    std::vector<std::filesystem::path> unqueued_;
    std::vector<std::filesystem::path> queuedHere_;
    bool recordingDone_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
};

} // namespace veltrane
