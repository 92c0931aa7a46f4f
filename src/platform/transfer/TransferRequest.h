#pragma once

#include <QByteArray>
#include <QUrl>

#include <chrono>
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
};

} // namespace veltrane
