#include "platform/transfer/TransferTask.h"

#include "platform/transfer/TransferWorker.h"
#include "platform/transfer/TransferWorkerLink.h"

namespace veltrane {

TransferTask::TransferTask(std::int64_t identifier, std::shared_ptr<TransferWorkerLink> link)
    : identifier_(identifier), link_(std::move(link)) {}

std::optional<std::string> TransferTask::description() const {
    const std::lock_guard lock(mutex_);
    return description_;
}

void TransferTask::setDescription(std::string description) {
    const std::lock_guard lock(mutex_);
    description_ = std::move(description);
}

void TransferTask::resume() {
    link_->post([identifier = identifier_](TransferWorker& worker) { worker.startTask(identifier); });
}

} // namespace veltrane
