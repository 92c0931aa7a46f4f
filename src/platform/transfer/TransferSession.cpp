#include "platform/transfer/TransferSession.h"

#include "platform/transfer/TransferWorker.h"

#include <QMetaObject>

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

TransferSession::TransferSession(TransferSessionConfiguration configuration,
                                 std::weak_ptr<TransferSessionDelegate> delegate)
    : configuration_(std::move(configuration)) {
    auto* worker = new TransferWorker(configuration_, std::move(delegate));
    thread_.setObjectName(QString::fromStdString(configuration_.identifier + ".delegate"));
    worker->moveToThread(&thread_);
    link_ = std::make_shared<TransferWorkerLink>(worker);
    thread_.start();
}

TransferSession::~TransferSession() {
    if (TransferWorker* worker = link_->detach()) {
        QMetaObject::invokeMethod(
            worker,
            [worker] {
                worker->shutDown();
                delete worker;
            },
            Qt::BlockingQueuedConnection);
    }
    thread_.quit();
    thread_.wait();
}

std::shared_ptr<TransferTask> TransferSession::createUploadTask(TransferRequest request,
                                                                const std::filesystem::path& bodyFile) {
    auto task = std::make_shared<TransferTask>(nextIdentifier_.fetch_add(1), link_);
    link_->post([task, request = std::move(request), path = QString::fromStdString(bodyFile.string())](
                    TransferWorker& worker) mutable { worker.addTask(task, std::move(request), path); });
    return task;
}

void TransferSession::getAllTasks(std::function<void(std::vector<TransferTaskInfo>)> completion) {
    link_->post(
        [completion = std::move(completion)](TransferWorker& worker) { completion(worker.taskInfos()); });
}

} // namespace veltrane
