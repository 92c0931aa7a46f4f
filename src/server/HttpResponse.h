#pragma once

#include <QByteArray>

namespace veltrane {

// What came back for a request that reached the server.
struct HttpResponse {
    static constexpr int kNotHttp = -1;

    int statusCode = kNotHttp; // kNotHttp when the answer carried no HTTP status
    QByteArray body;
};

} // namespace veltrane
