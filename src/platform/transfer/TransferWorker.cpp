#include "platform/transfer/TransferWorker.h"

#include "platform/transfer/TransportPolicy.h"

#include <QFile>
#include <QMetaObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace veltrane {

void TransferWorkerLink::post(std::function<void(TransferWorker&)> work) {
    const std::lock_guard lock(mutex_);
    if (worker_ == nullptr) {
        return;
    }
    // Events still queued for the worker when it is deleted (on its own thread) are discarded.
    QMetaObject::invokeMethod(
        worker_, [worker = worker_, work = std::move(work)] { work(*worker); }, Qt::QueuedConnection);
}

TransferWorker* TransferWorkerLink::detach() {
    const std::lock_guard lock(mutex_);
    TransferWorker* worker = worker_;
    worker_ = nullptr;
    return worker;
}

namespace {

constexpr const char* kSessionErrorDomain = TransferError::kDomain;
constexpr const char* kNetworkErrorDomain = "QNetworkReply";

// Failures in which no server answered: nothing was decided about the upload.
bool isNoAnswer(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the idle time-out before any byte went out
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError: // "Network unreachable" and the like
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return true;
    default:
        return false;
    }
}

} // namespace

TransferWorker::TransferWorker(TransferSessionConfiguration configuration,
                               std::weak_ptr<TransferSessionDelegate> delegate)
    : configuration_(std::move(configuration)), delegate_(std::move(delegate)),
      network_(new QNetworkAccessManager(this)) {
    // Redirects are not followed: an upload's answer is the first server's answer.
    network_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

TransferWorker::~TransferWorker() {
    shutDown();
}

void TransferWorker::addTask(std::shared_ptr<TransferTask> task, TransferRequest request,
                             QString bodyFilePath) {
    const std::int64_t identifier = task->identifier();
    entries_.emplace(identifier, Entry{std::move(task), std::move(request), std::move(bodyFilePath)});
}

std::vector<TransferTaskInfo> TransferWorker::taskInfos() const {
    std::vector<TransferTaskInfo> infos;
    infos.reserve(entries_.size());
    for (const auto& [identifier, entry] : entries_) {
        infos.push_back(infoOf(entry));
    }
    return infos;
}

TransferTaskInfo TransferWorker::infoOf(const Entry& entry) {
    return TransferTaskInfo{entry.task->identifier(), entry.task->description()};
}

std::shared_ptr<TransferSessionDelegate> TransferWorker::delegate() const {
    return delivering_ ? delegate_.lock() : nullptr;
}

void TransferWorker::startTask(std::int64_t identifier) {
    const auto found = entries_.find(identifier);
    if (found == entries_.end() || found->second.started) {
        return;
    }
    found->second.started = true;
    send(found->second);
}

void TransferWorker::send(Entry& entry) {
    const std::int64_t identifier = entry.task->identifier();
    if (const auto permitted = TransportPolicy::permits(entry.request.url); !permitted) {
        complete(identifier,
                 std::unexpected(PlatformError{kSessionErrorDomain, TransferError::kRefusedURL,
                                               permitted.error().localizedDescription, nullptr}),
                 std::nullopt);
        return;
    }
    auto* body = new QFile(entry.bodyFilePath);
    if (!body->open(QIODevice::ReadOnly)) {
        const std::string reason =
            "The upload body file could not be read: " + body->errorString().toStdString();
        delete body;
        complete(identifier,
                 std::unexpected(
                     PlatformError{kSessionErrorDomain, TransferError::kBodyUnreadable, reason, nullptr}),
                 std::nullopt);
        return;
    }

    QNetworkRequest request(entry.request.url);
    request.setTransferTimeout(static_cast<int>(entry.request.idleTimeout.count()));
    for (const auto& [name, value] : entry.request.headers) {
        request.setRawHeader(name, value);
    }
    request.setHeader(QNetworkRequest::ContentLengthHeader, body->size());
    request.setSslConfiguration(
        TransportPolicy::sslConfiguration(configuration_.additionalCaCertificatesForTesting));

    QNetworkReply* reply = network_->sendCustomRequest(request, entry.request.method, body);
    body->setParent(reply); // the body file is read until the reply ends
    entry.reply = reply;

    auto* connectTimer = new QTimer(reply);
    connectTimer->setSingleShot(true);
    connect(connectTimer, &QTimer::timeout, this, [this, identifier] {
        const auto found = entries_.find(identifier);
        if (found != entries_.end() && found->second.reply) {
            found->second.connectTimedOut = true;
            found->second.reply->abort();
        }
    });
    connectTimer->start(entry.request.connectTimeout);
    connect(reply, &QNetworkReply::metaDataChanged, connectTimer, &QTimer::stop);
    connect(reply, &QNetworkReply::readyRead, this, [this, identifier] { deliverData(identifier); });
    connect(reply, &QNetworkReply::uploadProgress, this,
            [this, identifier, connectTimer](qint64 sent, qint64 total) {
                const auto found = entries_.find(identifier);
                if (found == entries_.end()) {
                    return;
                }
                if (sent > 0) {
                    found->second.bodyBytesSent = true;
                    connectTimer->stop();
                }
                if (auto target = delegate()) {
                    target->didSendBodyData(infoOf(found->second), sent, total);
                }
            });
    connect(reply, &QNetworkReply::finished, this, [this, identifier] { finishReply(identifier); });

    auto* resourceTimer = new QTimer(reply);
    resourceTimer->setSingleShot(true);
    connect(resourceTimer, &QTimer::timeout, this, [this, identifier] {
        const auto found = entries_.find(identifier);
        if (found != entries_.end() && found->second.reply) {
            found->second.resourceTimedOut = true;
            found->second.reply->abort();
        }
    });
    resourceTimer->start(
        std::chrono::duration_cast<std::chrono::milliseconds>(configuration_.resourceTimeout));
}

void TransferWorker::deliverData(std::int64_t identifier) {
    const auto found = entries_.find(identifier);
    if (found == entries_.end() || !found->second.reply) {
        return;
    }
    const QByteArray bytes = found->second.reply->readAll();
    if (bytes.isEmpty()) {
        return;
    }
    if (auto target = delegate()) {
        target->didReceiveData(infoOf(found->second), bytes);
    }
}

void TransferWorker::finishReply(std::int64_t identifier) {
    const auto found = entries_.find(identifier);
    if (found == entries_.end() || !found->second.reply) {
        return;
    }
    deliverData(identifier);
    QNetworkReply* reply = found->second.reply;
    reply->deleteLater();

    std::optional<TransferResponse> response;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        TransferResponse http;
        http.statusCode = status.toInt();
        http.reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
        for (const auto& pair : reply->rawHeaderPairs()) {
            http.headers.emplace_back(pair.first, pair.second);
        }
        response = std::move(http);
    }

    std::expected<void, PlatformError> outcome;
    const QNetworkReply::NetworkError code = reply->error();
    if (found->second.resourceTimedOut) {
        outcome = std::unexpected(PlatformError{kSessionErrorDomain, TransferError::kResourceTimeout,
                                                "The transfer did not finish within " +
                                                    std::to_string(configuration_.resourceTimeout.count()) +
                                                    " seconds",
                                                nullptr});
        response.reset();
    } else if (code != QNetworkReply::NoError && (!response || code < QNetworkReply::ContentAccessDenied)) {
        // Connection, TLS, proxy and time-out failures. An HTTP answer with an error status
        // (Qt's content, protocol and server error classes) is a response, not an error.
        if (found->second.connectTimedOut) {
            outcome = std::unexpected(PlatformError{
                kSessionErrorDomain, TransferError::kNoAnswer,
                "No connection to the server within " +
                    std::to_string(found->second.request.connectTimeout.count() / 1000) + " seconds",
                nullptr});
        } else if (code == QNetworkReply::OperationCanceledError && found->second.bodyBytesSent) {
            // The idle time-out after the server had taken (part of) the body.
            outcome = std::unexpected(PlatformError{kSessionErrorDomain, TransferError::kStoppedAnswering,
                                                    "The server stopped answering", nullptr});
        } else if (isNoAnswer(code)) {
            outcome = std::unexpected(PlatformError{kSessionErrorDomain, TransferError::kNoAnswer,
                                                    reply->errorString().toStdString(), nullptr});
        } else {
            outcome = std::unexpected(PlatformError{kNetworkErrorDomain, static_cast<std::int64_t>(code),
                                                    reply->errorString().toStdString(), nullptr});
        }
    }
    complete(identifier, std::move(outcome), std::move(response));
}

void TransferWorker::complete(std::int64_t identifier, std::expected<void, PlatformError> outcome,
                              std::optional<TransferResponse> response) {
    const auto found = entries_.find(identifier);
    if (found == entries_.end()) {
        return;
    }
    const TransferTaskInfo info = infoOf(found->second);
    entries_.erase(found);
    if (auto target = delegate()) {
        target->didComplete(info, outcome, response);
    }
}

void TransferWorker::shutDown() {
    delivering_ = false;
    for (auto& [identifier, entry] : entries_) {
        if (entry.reply) {
            entry.reply->disconnect(this);
            entry.reply->abort();
        }
    }
    entries_.clear();
}

} // namespace veltrane
