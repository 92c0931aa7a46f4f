#pragma once

#include "app/AppEnvironment.h"

#include <QObject>

#include <filesystem>
#include <memory>

namespace veltrane {

class RecordCommand;
class SignalWatcher;
class UploadSettleWatcher;

// The upload side of `veltrane-cli record --project ID [--meeting ID]`: queues every finished
// chunk for upload while recording and, once the recording has stopped, keeps uploading until
// the queue has settled or an interruption arrives. Main thread only.
class UploadRecording : public QObject {
    Q_OBJECT
public:
    // `env` must hold the upload queue and outlive this object. `assignment` carries the project
    // and meeting every chunk is filed under (its file name is ignored).
    UploadRecording(AppEnvironment& env, ChunkAssignment assignment, QObject* parent = nullptr);
    ~UploadRecording() override;

    // Takes the recording's chunks and end, and SIGINT/SIGTERM: while recording they stop the
    // recording, while waiting for the uploads they end the wait. Reconnects the upload session.
    void attach(RecordCommand& record, SignalWatcher& signalWatcher);
    // The recorder's chunk hand-off: queues the file with a post to the main thread.
    void chunkReady(const std::filesystem::path& chunkFile);
    // The recording has ended with `exitCode`: wait for the uploads, then emit finished().
    void recordingFinished(int exitCode);
    // SIGINT/SIGTERM while waiting for the uploads: finish now, leaving the rest queued.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    void watchWhenIdle();
    void finish();

    AppEnvironment& env_;
    ChunkAssignment assignment_;
    std::unique_ptr<UploadSettleWatcher> watcher_;
    int postsInFlight_ = 0;
    bool recordingDone_ = false;
    bool finished_ = false;
    int exitCode_ = 0;
};

} // namespace veltrane
