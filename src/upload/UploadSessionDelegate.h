#pragma once

#include "platform/transfer/TransferSessionDelegate.h"

#include <QByteArray>
#include <QPointer>

#include <cstdint>
#include <map>

namespace veltrane {

class UploadManager;

// The upload manager's side of its transfer session. Runs on the session's delegate queue:
// keeps each task's response bytes there and posts progress and completions to the manager
// on the main thread, doing nothing once the manager is gone.
class UploadSessionDelegate final : public TransferSessionDelegate {
public:
    // Construct on the main thread.
    explicit UploadSessionDelegate(UploadManager* manager);

    void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) override;
    void didSendBodyData(const TransferTaskInfo& task, std::int64_t totalBytesSent,
                         std::int64_t totalBytesExpectedToSend) override;
    void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                     const std::optional<TransferResponse>& response) override;

private:
    QPointer<UploadManager> manager_;
    // Touched only on the delegate queue.
    std::map<std::int64_t, QByteArray> responseData_;
};

} // namespace veltrane
