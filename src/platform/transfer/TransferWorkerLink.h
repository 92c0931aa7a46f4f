#pragma once

#include <functional>
#include <mutex>

namespace veltrane {

class TransferWorker;

// A thread-safe way to post work to a session's worker that stays valid after the session
// is gone: posts made after detach() are dropped.
class TransferWorkerLink {
public:
    explicit TransferWorkerLink(TransferWorker* worker) : worker_(worker) {}

    // Runs `work(worker)` later on the worker's thread, in posting order.
    void post(std::function<void(TransferWorker&)> work);

    // Stops all further posts; returns the worker so its owner can delete it.
    [[nodiscard]] TransferWorker* detach();

private:
    std::mutex mutex_;
    TransferWorker* worker_ = nullptr;
};

} // namespace veltrane
