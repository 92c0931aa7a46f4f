#include "app/cli/UploadRecording.h"

#include "app/SignalWatcher.h"
#include "app/cli/RecordCommand.h"
#include "app/cli/UploadCommands.h"
#include "app/cli/UploadSettleWatcher.h"

#include <QPointer>
#include <QTimer>

#include <iostream>

namespace veltrane {

UploadRecording::UploadRecording(AppEnvironment& env, ChunkAssignment assignment, QObject* parent)
    : QObject(parent), env_(env), assignment_(std::move(assignment)),
      watcher_(std::make_unique<UploadSettleWatcher>(*env.uploads())) {
    connect(watcher_.get(), &UploadSettleWatcher::settled, this, &UploadRecording::finish);
}

UploadRecording::~UploadRecording() = default;

void UploadRecording::attach(RecordCommand& record, SignalWatcher& signalWatcher) {
    record.recorder().setChunkFiling(assignment_.filing());
    record.onChunkReady = [self = QPointer<UploadRecording>(this)](const std::filesystem::path& chunk) {
        if (self) {
            self->chunkReady(chunk);
        }
    };
    connect(&signalWatcher, &SignalWatcher::terminationRequested, this,
            [this, recordCommand = QPointer<RecordCommand>(&record)] {
                if (recordingDone_) {
                    interrupt();
                } else if (recordCommand) {
                    recordCommand->requestStop();
                }
            });
    connect(&record, &RecordCommand::finished, this, &UploadRecording::recordingFinished,
            Qt::QueuedConnection);
    watcher_->reconnect();
}

void UploadRecording::chunkReady(const std::filesystem::path& chunkFile) {
    ++postsInFlight_;
    QTimer::singleShot(0, this, [this, filename = chunkFile.filename().string()] {
        --postsInFlight_;
        ChunkAssignment chunk = assignment_;
        chunk.filename = filename;
        env_.enqueueChunk(std::move(chunk));
        watchWhenIdle();
    });
}

void UploadRecording::recordingFinished(int exitCode) {
    if (recordingDone_) {
        return;
    }
    recordingDone_ = true;
    exitCode_ = exitCode;
    std::cerr << "Recording stopped; uploading the queued chunks" << std::endl;
    watchWhenIdle();
}

void UploadRecording::watchWhenIdle() {
    if (recordingDone_ && postsInFlight_ == 0 && !watcher_->isWatching()) {
        watcher_->watch();
    }
}

void UploadRecording::interrupt() {
    if (!recordingDone_) {
        return;
    }
    std::cerr << "Interrupted: the remaining uploads stay queued" << std::endl;
    finish();
}

void UploadRecording::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    std::cerr << UploadQueueReport::summary(env_.uploads()->jobs()) << std::endl;
    emit finished(exitCode_);
}

} // namespace veltrane
