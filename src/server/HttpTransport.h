#pragma once

#include "server/HttpResponse.h"
#include "server/TransportPolicy.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include <chrono>
#include <memory>

namespace veltrane {

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

    // For tests only: see TransportPolicy::addCaCertificatesForTesting.
    void addCaCertificatesForTesting(const QList<QSslCertificate>& certificates);

private:
    TransportPolicy policy_;
    std::chrono::milliseconds requestTimeLimit_ = kDefaultRequestTimeLimit;
    std::unique_ptr<QNetworkAccessManager> manager_ = std::make_unique<QNetworkAccessManager>();
};

} // namespace veltrane
