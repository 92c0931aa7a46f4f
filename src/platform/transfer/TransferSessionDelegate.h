#pragma once

#include "platform/core/PlatformError.h"
#include "platform/transfer/TransferResponse.h"
#include "platform/transfer/TransferTaskInfo.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace veltrane {

// Receives a transfer session's callbacks. All of them are called on the session's own thread
// (its serial delegate queue), one at a time, in the order the events happened.
class TransferSessionDelegate {
public:
    virtual ~TransferSessionDelegate() = default;

    // A piece of the response body.
    virtual void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) = 0;

    // Upload progress: bytes of the request body sent so far and the expected total (which may
    // be 0 or -1 when unknown).
    virtual void didSendBodyData(const TransferTaskInfo& task, std::int64_t totalBytesSent,
                                 std::int64_t totalBytesExpectedToSend) = 0;

    // The task finished. `error` is a transport failure (connection, TLS, time-out, refused URL,
    // unreadable body file); an HTTP answer of any status is not an error and comes as
    // `response`. The last callback of a task.
    virtual void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                             const std::optional<TransferResponse>& response) = 0;
};

} // namespace veltrane
