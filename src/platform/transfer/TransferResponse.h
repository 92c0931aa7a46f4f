#pragma once

#include <QByteArray>

#include <utility>
#include <vector>

namespace veltrane {

// The status line and headers of a server's HTTP answer (the body arrives as received data).
struct TransferResponse {
    int statusCode = 0;
    std::vector<std::pair<QByteArray, QByteArray>> headers;
};

} // namespace veltrane
