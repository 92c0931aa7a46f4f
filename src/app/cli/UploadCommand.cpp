#include "app/cli/UploadCommand.h"

#include "app/AppEnvironment.h"
#include "app/cli/UploadQueueReport.h"
#include "app/cli/UploadSettleWatcher.h"

#include <algorithm>
#include <iostream>

namespace veltrane {

UploadCommand::UploadCommand(UploadOptions options, std::unique_ptr<AppEnvironment> env, QObject* parent)
    : QObject(parent), options_(std::move(options)), env_(std::move(env)),
      watcher_(std::make_unique<UploadSettleWatcher>(*env_->uploads())) {
    connect(watcher_.get(), &UploadSettleWatcher::settled, this, &UploadCommand::settled);
}

UploadCommand::~UploadCommand() {
    watcher_.reset(); // refers to the environment's upload manager
}

void UploadCommand::run() {
    watcher_->reconnect();
    watcher_->watch();
}

void UploadCommand::interrupt() {
    std::cerr << "Interrupted: the remaining uploads stay queued" << std::endl;
    finish(options_.wait ? 1 : 0);
}

void UploadCommand::settled() {
    const std::vector<UploadJob>& jobs = env_->uploads()->jobs();
    if (!options_.wait) {
        finish(0);
        return;
    }
    // Settled with pending jobs: nothing more happens without a new trigger (missing chunk file,
    // no server URL, body not writable). Waiting longer would never end.
    const auto stuck = std::count_if(jobs.begin(), jobs.end(),
                                     [](const UploadJob& job) { return job.state == UploadState::pending; });
    if (stuck > 0) {
        std::cerr << stuck << " upload(s) cannot be sent now (chunk file missing or no server URL)"
                  << std::endl;
    }
    finish(UploadQueueReport::allCompleted(jobs) ? 0 : 1);
}

void UploadCommand::finish(int exitCode) {
    if (finished_) {
        return;
    }
    finished_ = true;
    std::cerr << UploadQueueReport::summary(env_->uploads()->jobs()) << std::endl;
    emit finished(exitCode);
}

} // namespace veltrane
