#pragma once

#include "platform/transfer/TransportPolicy.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <chrono>
#include <memory>

namespace veltrane {

// What came back for a request that reached the server.
struct HttpResponse {
    static constexpr int kNotHttp = -1;

    int statusCode = kNotHttp; // kNotHttp when the answer carried no HTTP status
    QByteArray body;
};

// Sends requests to the server under the transport policy and with a time limit. One instance
// owns one QNetworkAccessManager; use it on the main thread only.
class HttpTransport {
public:
    static constexpr std::chrono::milliseconds kDefaultRequestTimeLimit{30'000};

    explicit HttpTransport(std::chrono::milliseconds requestTimeLimit = kDefaultRequestTimeLimit);
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    // Sends `request` with `method` and `body`. Any HTTP answer is returned, whatever its status;
    // a request that got none (refused by the policy, no connection, TLS failure, no answer within
    // the time limit) throws TransportError.
    [[nodiscard]] QCoro::Task<HttpResponse> send(QNetworkRequest request, QByteArray method,
                                                 QByteArray body = {});

    [[nodiscard]] std::chrono::milliseconds requestTimeLimit() const noexcept { return requestTimeLimit_; }
    void setRequestTimeLimit(std::chrono::milliseconds limit) { requestTimeLimit_ = limit; }

    // For tests only: trusts these CA certificates in addition to the system store.
    void addCaCertificatesForTesting(const QList<QSslCertificate>& certificates);

private:
    QList<QSslCertificate> extraCaCertificates_;
    std::chrono::milliseconds requestTimeLimit_ = kDefaultRequestTimeLimit;
    std::unique_ptr<QNetworkAccessManager> manager_ = std::make_unique<QNetworkAccessManager>();
};

} // namespace veltrane
