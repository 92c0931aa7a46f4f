#include "app/cli/UploadRecording.h"

#include "app/SignalWatcher.h"
#include "app/cli/CliApplication.h"
#include "app/cli/RecordCommand.h"
#include "app/cli/UploadCommands.h"
#include "app/cli/UploadSettleWatcher.h"

#include <algorithm>
#include <iostream>

namespace veltrane {

UploadRecording::UploadRecording(AppEnvironment& env, ChunkFiling filing, QObject* parent)
    : QObject(parent), env_(env), assignment_(std::move(filing)),
      watcher_(std::make_unique<UploadSettleWatcher>(*env.uploads())),
      report_(std::make_unique<UploadRunReport>(*env.uploads())) {
    connect(watcher_.get(), &UploadSettleWatcher::settled, this, &UploadRecording::finish);
    // A queue that cannot be saved ends the wait as soon as nothing is being sent.
    connect(env.uploads(), &UploadManager::problemChanged, this, [this] {
        if (env_.uploads()->queueSaveError() && watcher_->isWatching()) {
            watcher_->watch(UploadSettleWatcher::Until::idle);
        }
    });
}

UploadRecording::~UploadRecording() = default;

void UploadRecording::attach(RecordCommand& record, SignalWatcher& signalWatcher) {
    record_ = &record;
    record.recorder().setChunkFiling(assignment_);
    env_.fileChunksOf(record.recorder(),
                      [self = QPointer<UploadRecording>(this)](const std::filesystem::path& chunk) {
                          return self && self->chunkReady(chunk);
                      });
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

void UploadRecording::assignmentConfirmed(ChunkFiling names) {
    if (check_ != Check::running) {
        return;
    }
    check_ = Check::confirmed;
    assignment_ = std::move(names);
    if (record_) {
        record_->recorder().setChunkFiling(assignment_);
    }
    for (const std::filesystem::path& chunk : std::exchange(held_, {})) {
        take(chunk);
    }
    watchWhenIdle();
}

void UploadRecording::assignmentRefused(const QString& message) {
    if (check_ != Check::running) {
        return;
    }
    check_ = Check::refused;
    std::cerr << "veltrane-cli: "
              << CliText::tr("%1; the recording goes on, but its chunks are not queued for upload")
                     .arg(message)
                     .toStdString()
              << std::endl;
    if (record_) {
        record_->recorder().setChunkFiling(std::nullopt);
    }
    unqueued_ = std::exchange(held_, {});
    watchWhenIdle();
}

bool UploadRecording::chunkReady(const std::filesystem::path& chunkFile) {
    switch (check_) {
    case Check::running:
        held_.push_back(chunkFile);
        return false;
    case Check::refused:
        unqueued_.push_back(chunkFile);
        return false;
    case Check::confirmed:
        // Reported with the confirmed names, which the recorder has been filing under since.
        queuedHere_.push_back(chunkFile);
        return true;
    }
    return false;
}

void UploadRecording::take(const std::filesystem::path& chunkFile) {
    env_.fileChunk(chunkFile, assignment_);
    queuedHere_.push_back(chunkFile);
}

void UploadRecording::recordingFinished(int exitCode) {
    if (recordingDone_) {
        return;
    }
    recordingDone_ = true;
    exitCode_ = exitCode;
    if (check_ == Check::running) {
        std::cerr << CliText::tr("Recording stopped; waiting for the server's answer about the project")
                         .toStdString()
                  << std::endl;
    } else if (check_ == Check::confirmed) {
        std::cerr << CliText::tr("Recording stopped; uploading the queued chunks").toStdString() << std::endl;
    }
    watchWhenIdle();
}

void UploadRecording::watchWhenIdle() {
    if (!recordingDone_ || check_ == Check::running || watcher_->isWatching()) {
        return;
    }
    if (check_ == Check::refused || env_.uploads()->queueSaveError()) {
        finish();
        return;
    }
    watcher_->watch(UploadSettleWatcher::Until::idle);
}

void UploadRecording::interrupt() {
    if (!recordingDone_) {
        return;
    }
    if (!env_.uploads()->queueSaveError()) {
        std::cerr << CliText::tr("Interrupted: the remaining uploads stay queued").toStdString() << std::endl;
    }
    finish();
}

std::string UploadRecording::enqueueCommand(const std::vector<std::filesystem::path>& files) const {
    std::string command = "veltrane-cli enqueue --project " + assignment_.projectId;
    if (assignment_.meetingId) {
        command += " --meeting " + *assignment_.meetingId;
    }
    for (const std::filesystem::path& file : files) {
        command += " '" + file.string() + "'";
    }
    return command;
}

void UploadRecording::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (check_ == Check::refused) {
        std::cerr << CliText::tr("%n chunk file(s) recorded but not queued.", nullptr,
                                 static_cast<int>(unqueued_.size()))
                         .toStdString()
                  << std::endl;
        if (!unqueued_.empty()) {
            std::cerr << CliText::tr("Queue them once the project is right:").toStdString() << "\n   "
                      << enqueueCommand(unqueued_) << std::endl;
        }
        emit finished(kProjectRefusedExitCode);
        return;
    }
    if (report_->printEnd()) {
        // The queue file may not hold these chunks: say how to queue them again.
        std::vector<std::filesystem::path> open;
        for (const std::filesystem::path& chunk : queuedHere_) {
            const auto& jobs = env_.uploads()->jobs();
            const auto job = std::ranges::find(jobs, chunk.filename().string(), &UploadJob::filename);
            if (job == jobs.end() || job->state != UploadState::completed) {
                open.push_back(chunk);
            }
        }
        if (!open.empty()) {
            std::cerr << CliText::tr(
                             "Once the folder can be written again, queue this recording's chunks with:")
                             .toStdString()
                      << "\n   " << enqueueCommand(open) << std::endl;
        }
        emit finished(1);
        return;
    }
    emit finished(exitCode_);
}

} // namespace veltrane
