#include "upload/UploadSessionDelegate.h"

#include "platform/dispatch/MainThread.h"
#include "upload/UploadManager.h"

namespace veltrane {

UploadSessionDelegate::UploadSessionDelegate(UploadManager* manager) : manager_(manager) {}

void UploadSessionDelegate::didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) {
    responseData_[task.identifier].append(bytes);
}

void UploadSessionDelegate::didSendBodyData(const TransferTaskInfo& task, std::int64_t totalBytesSent,
                                            std::int64_t totalBytesExpectedToSend) {
    if (totalBytesExpectedToSend < 1) {
        return;
    }
    const double fraction =
        static_cast<double>(totalBytesSent) / static_cast<double>(totalBytesExpectedToSend);
    postGuarded(manager_, [task, fraction](UploadManager* manager) {
        manager->updateProgress(task.description, task.identifier, fraction);
    });
}

void UploadSessionDelegate::didComplete(const TransferTaskInfo& task,
                                        const std::optional<PlatformError>& error,
                                        const std::optional<TransferResponse>& response) {
    std::optional<QByteArray> bytes;
    if (const auto found = responseData_.find(task.identifier); found != responseData_.end()) {
        bytes = std::move(found->second);
        responseData_.erase(found);
    }
    postGuarded(manager_, [task, error, response, bytes = std::move(bytes)](UploadManager* manager) {
        manager->handleCompletion(task.description, task.identifier, error, response, bytes);
    });
}

} // namespace veltrane
