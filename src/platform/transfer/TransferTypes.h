#pragma once

#include "platform/core/PlatformError.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltrane {

// One request of an upload task. The body comes from a file given with the task.
struct TransferRequest {
    QUrl url;
    QByteArray method = "POST";
    // Sent as given, in order. The session adds the body's Content-Length itself.
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    // The transfer fails when no byte is sent or received for this long.
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60);
    // The transfer fails as unanswered when no connection has taken a byte of the body by then
    // (a network that drops packets instead of refusing them).
    std::chrono::milliseconds connectTimeout = std::chrono::seconds(15);
};

// The errors a transfer session reports in its own domain. `noAnswer` keeps the network's own
// text ("Connection refused", "Network unreachable", ...): no server was reached, so nothing was
// decided about the upload. `stoppedAnswering`: the server took the connection, then went silent
// for the request's idle time.
namespace TransferError {
inline constexpr const char* kDomain = "TransferSession";
inline constexpr std::int64_t kRefusedURL = 1;
inline constexpr std::int64_t kBodyUnreadable = 2;
inline constexpr std::int64_t kResourceTimeout = 3;
inline constexpr std::int64_t kNoAnswer = 4;
inline constexpr std::int64_t kStoppedAnswering = 5;
} // namespace TransferError

// The status line and headers of a server's HTTP answer (the body arrives as received data).
struct TransferResponse {
    int statusCode = 0;
    QByteArray reasonPhrase; // "Payload Too Large"; empty when the server sent none
    std::vector<std::pair<QByteArray, QByteArray>> headers;
};

// What a transfer session reports about one of its tasks: the identifier unique within the
// session and the description text set on the task, if any.
struct TransferTaskInfo {
    std::int64_t identifier = 0;
    std::optional<std::string> description;
};

struct TransferSessionConfiguration {
    // Names the session (and its thread). Transfers do not outlive the process, so a session
    // created again with the same identifier after a restart reports no tasks.
    std::string identifier;
    // The longest a transfer may take from start to finish.
    std::chrono::seconds resourceTimeout = std::chrono::hours(24);
    // Test-only: certificate authorities trusted in addition to the system store, for a local
    // HTTPS server with a self-made certificate. Leave empty in the application.
    QList<QSslCertificate> additionalCaCertificatesForTesting{};
};

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

    // The task finished. `outcome` fails with a transport failure (connection, TLS, time-out,
    // refused URL, unreadable body file); an HTTP answer of any status is not an error and comes
    // as `response`, which a failure after the answer's head may have as well. The last callback
    // of a task.
    virtual void didComplete(const TransferTaskInfo& task, const std::expected<void, PlatformError>& outcome,
                             const std::optional<TransferResponse>& response) = 0;
};

} // namespace veltrane
