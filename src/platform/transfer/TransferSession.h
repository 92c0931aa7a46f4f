#pragma once

#include "platform/transfer/TransferTypes.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

class TransferWorkerLink;

// Handle of one transfer task of a TransferSession. Created suspended; resume() starts it.
// Safe to use from any thread, also after the session is gone (then it does nothing).
class TransferTask {
public:
    TransferTask(std::int64_t identifier, std::shared_ptr<TransferWorkerLink> link);

    // Unique within the session.
    [[nodiscard]] std::int64_t identifier() const { return identifier_; }

    [[nodiscard]] std::optional<std::string> description() const;
    void setDescription(std::string description);

    // Starts the transfer (once; later calls do nothing).
    void resume();

private:
    const std::int64_t identifier_;
    std::shared_ptr<TransferWorkerLink> link_;
    mutable std::mutex mutex_;
    std::optional<std::string> description_;
};

class TransferWorker;
class TransferWorkerLink;

// A transfer session for uploads from files, over QtNetwork on a thread of its own. That
// thread is the session's serial delegate queue: the delegate's callbacks, and the answers to
// getAllTasks, are called on it one at a time and in order. The delegate is held weakly.
//
// TLS certificates and host names are verified against the system trust store (errors are
// never ignored); plain http:// is allowed only to loopback hosts, any other URL fails the task
// with an error. Transfers end with the session (and the process); a new session reports no
// earlier tasks. Create and destroy the session on the same thread (not its own).
class TransferSession {
public:
    TransferSession(TransferSessionConfiguration configuration,
                    std::weak_ptr<TransferSessionDelegate> delegate);
    ~TransferSession();
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    [[nodiscard]] const TransferSessionConfiguration& configuration() const { return configuration_; }

    // A suspended upload task sending `request` with the content of `bodyFile` (streamed from
    // disk) as its body. Call resume() on it to start it. Callable from any thread.
    [[nodiscard]] std::shared_ptr<TransferTask> createUploadTask(TransferRequest request,
                                                                 const std::filesystem::path& bodyFile);

    // Answers, on the session's thread, with the tasks that have not completed yet.
    void getAllTasks(std::function<void(std::vector<TransferTaskInfo>)> completion);

private:
    TransferSessionConfiguration configuration_;
    QThread thread_;
    std::shared_ptr<TransferWorkerLink> link_;
    std::atomic<std::int64_t> nextIdentifier_{1};
};

} // namespace veltrane
