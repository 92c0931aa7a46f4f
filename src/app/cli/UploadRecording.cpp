#include "app/cli/UploadRecording.h"

#include "app/cli/RecordCommand.h"
#include "app/cli/SignalWatcher.h"
#include "app/cli/UploadHandoff.h"
#include "app/cli/UploadQueueReport.h"
#include "app/cli/UploadServices.h"
#include "app/cli/UploadSettleWatcher.h"

#include <QPointer>

#include <iostream>

namespace veltrane {

UploadRecording::UploadRecording(std::unique_ptr<UploadServices> services, std::string projectId,
                                 std::optional<std::string> meetingId, QObject* parent)
    : QObject(parent), services_(std::move(services)),
      handoff_(std::make_unique<UploadHandoff>(services_->uploads(), services_->projects(),
                                               std::move(projectId), std::move(meetingId))),
      watcher_(std::make_unique<UploadSettleWatcher>(services_->uploads())) {
    connect(watcher_.get(), &UploadSettleWatcher::settled, this, &UploadRecording::finish);
    connect(handoff_.get(), &UploadHandoff::idle, this, [this] {
        if (recordingDone_ && !watcher_->isWatching()) {
            watcher_->watch();
        }
    });
}

UploadRecording::~UploadRecording() {
    // The watcher and the hand-off refer to the services' upload manager: release them first.
    watcher_.reset();
    handoff_.reset();
}

std::unique_ptr<UploadRecording> UploadRecording::create(const std::filesystem::path& chunkDirectory,
                                                         std::string projectId,
                                                         std::optional<std::string> meetingId,
                                                         int& exitCode) {
    bool usageError = false;
    auto services = UploadServices::fromEnvironment(chunkDirectory, usageError);
    exitCode = usageError ? 2 : 1;
    if (!services) {
        return nullptr;
    }
    exitCode = 0;
    return std::make_unique<UploadRecording>(std::move(services), std::move(projectId), std::move(meetingId));
}

void UploadRecording::attach(RecordCommand& record, SignalWatcher& signalWatcher) {
    record.onChunkReady = [self = QPointer<UploadRecording>(this)](const std::filesystem::path& chunk) {
        if (self) {
            self->chunkReady(chunk);
        }
    };
    connect(&signalWatcher, &SignalWatcher::terminationRequested, this,
            [this, recordCommand = QPointer<RecordCommand>(&record)] {
                if (isWaitingForUploads()) {
                    interrupt();
                } else if (recordCommand) {
                    recordCommand->requestStop();
                }
            });
    connect(&record, &RecordCommand::finished, this, &UploadRecording::recordingFinished,
            Qt::QueuedConnection);
    start();
}

void UploadRecording::start() {
    watcher_->reconnect();
    handoff_->start(services_->currentToken().has_value());
}

void UploadRecording::chunkReady(const std::filesystem::path& chunkFile) {
    handoff_->chunkReady(chunkFile);
}

void UploadRecording::recordingFinished(int exitCode) {
    if (recordingDone_) {
        return;
    }
    recordingDone_ = true;
    exitCode_ = exitCode;
    std::cerr << "Recording stopped; uploading the queued chunks" << std::endl;
    if (handoff_->isIdle()) {
        watcher_->watch();
    }
}

void UploadRecording::interrupt() {
    if (!recordingDone_) {
        return;
    }
    std::cerr << "Interrupted: the remaining uploads stay queued" << std::endl;
    handoff_->flushNow();
    finish();
}

void UploadRecording::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    std::cerr << UploadQueueReport::summary(services_->uploads().jobs()) << std::endl;
    emit finished(exitCode_);
}

} // namespace veltrane
