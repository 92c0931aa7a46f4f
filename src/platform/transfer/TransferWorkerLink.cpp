#include "platform/transfer/TransferWorkerLink.h"

#include "platform/transfer/TransferWorker.h"

#include <QMetaObject>

namespace veltrane {

void TransferWorkerLink::post(std::function<void(TransferWorker&)> work) {
    const std::lock_guard lock(mutex_);
    if (worker_ == nullptr) {
        return;
    }
    // Events still queued for the worker when it is deleted (on its own thread) are discarded.
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, work = std::move(work)] { work(*worker); }, Qt::QueuedConnection);
}

TransferWorker* TransferWorkerLink::detach() {
    const std::lock_guard lock(mutex_);
    TransferWorker* worker = worker_;
    worker_ = nullptr;
    return worker;
}

} // namespace veltrane
