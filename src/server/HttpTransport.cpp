#include "server/HttpTransport.h"

#include "server/ServerErrors.h"

#include <QCoroNetworkReply>
#include <QNetworkReply>
#include <QPointer>

namespace veltrane {

namespace {

constexpr const char* kReplyDomain = "QNetworkReply";
static_assert(TransportError::kTimeoutCode == QNetworkReply::TimeoutError);

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const {
        if (reply) {
            reply->deleteLater();
        }
    }
};

} // namespace

HttpTransport::HttpTransport(std::chrono::milliseconds requestTimeLimit)
    : requestTimeLimit_(requestTimeLimit) {}

HttpTransport::~HttpTransport() = default;

void HttpTransport::addCaCertificatesForTesting(const QList<QSslCertificate>& certificates) {
    extraCaCertificates_.append(certificates);
}

QCoro::Task<HttpResponse> HttpTransport::send(QNetworkRequest request, QByteArray method, QByteArray body) {
    if (auto permitted = TransportPolicy::permits(request.url()); !permitted) {
        throw TransportError(std::move(permitted.error()));
    }
    request.setSslConfiguration(TransportPolicy::sslConfiguration(extraCaCertificates_));
    const auto timeLimit = requestTimeLimit_;
    QPointer<QNetworkReply> reply = manager_->sendCustomRequest(request, method, body);
    std::unique_ptr<QNetworkReply, ReplyDeleter> owner(reply.data());

    const bool finished = co_await qCoro(reply.data()).waitForFinished(timeLimit);
    if (!reply) {
        owner.release(); // already gone together with its manager
        throw TransportError(
            PlatformError{kReplyDomain, QNetworkReply::OperationCanceledError,
                          QT_TRANSLATE_NOOP("veltrane::Messages", "The request was cancelled."), nullptr});
    }
    const std::string server = request.url().authority().toStdString();
    if (!finished) {
        reply->abort();
        throw TransportError(PlatformError{kReplyDomain, QNetworkReply::TimeoutError,
                                           QT_TRANSLATE_NOOP("veltrane::Messages", "The request timed out."),
                                           nullptr},
                             server);
    }

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        if (reply->error() != QNetworkReply::NoError) {
            throw TransportError(PlatformError{kReplyDomain, static_cast<std::int64_t>(reply->error()),
                                               reply->errorString().toStdString(), nullptr},
                                 server);
        }
        co_return HttpResponse{HttpResponse::kNotHttp, reply->readAll()};
    }
    co_return HttpResponse{status.toInt(), reply->readAll()};
}

} // namespace veltrane
