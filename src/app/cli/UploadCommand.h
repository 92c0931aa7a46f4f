#pragma once

#include "app/cli/UploadOptions.h"

#include <QObject>

#include <memory>

namespace veltrane {

class AppEnvironment;
class UploadSettleWatcher;

// `veltrane-cli upload`: reconnects the persisted queue and runs queue passes until it has
// settled. With --wait it reports through the exit code whether every job completed.
// Main thread only.
class UploadCommand : public QObject {
    Q_OBJECT
public:
    // `env` must hold the upload queue.
    UploadCommand(UploadOptions options, std::unique_ptr<AppEnvironment> env, QObject* parent = nullptr);
    ~UploadCommand() override;

    void run();
    // SIGINT/SIGTERM: finish now, leaving the rest queued.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    void settled();
    void finish(int exitCode);

    UploadOptions options_;
    std::unique_ptr<AppEnvironment> env_;
    std::unique_ptr<UploadSettleWatcher> watcher_;
    bool finished_ = false;
};

} // namespace veltrane
