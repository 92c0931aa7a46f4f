#pragma once

#include "platform/core/PlatformError.h"
#include "platform/transfer/TransferSession.h"
#include "platform/transfer/TransferTypes.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QFile;
class QNetworkReply;
class QTimer;

namespace veltrane {

class TransferWorker;

// A thread-safe way to post work to a session's worker that stays valid after the session
// is gone: posts made after detach() are dropped.
class TransferWorkerLink {
public:
    explicit TransferWorkerLink(TransferWorker* worker) : worker_(worker) {}

    // Runs `work(worker)` later on the worker's thread, in posting order.
    void post(std::function<void(TransferWorker&)> work);

    // Stops all further posts; returns the worker so its owner can delete it.
    [[nodiscard]] TransferWorker* detach();

private:
    std::mutex mutex_;
    TransferWorker* worker_ = nullptr;
};

// The part of a TransferSession that lives on the session's thread: it owns the network
// access manager and the running replies and calls the delegate. Every member function runs
// on that thread.
class TransferWorker : public QObject {
    Q_OBJECT
public:
    TransferWorker(TransferSessionConfiguration configuration,
                   std::weak_ptr<TransferSessionDelegate> delegate);
    ~TransferWorker() override;

    void addTask(std::shared_ptr<TransferTask> task, TransferRequest request, QString bodyFilePath);
    void startTask(std::int64_t identifier);
    [[nodiscard]] std::vector<TransferTaskInfo> taskInfos() const;
    // Ends every transfer without further callbacks.
    void shutDown();

private:
    struct Entry {
        std::shared_ptr<TransferTask> task;
        TransferRequest request;
        QString bodyFilePath;
        QPointer<QNetworkReply> reply{};
        bool started = false;
        bool resourceTimedOut = false;
        bool bodyBytesSent = false;
        bool connectTimedOut = false;
    };

    [[nodiscard]] static TransferTaskInfo infoOf(const Entry& entry);
    void send(Entry& entry);
    void deliverData(std::int64_t identifier);
    void finishReply(std::int64_t identifier);
    void complete(std::int64_t identifier, std::expected<void, PlatformError> outcome,
                  std::optional<TransferResponse> response);
    [[nodiscard]] std::shared_ptr<TransferSessionDelegate> delegate() const;

    TransferSessionConfiguration configuration_;
    std::weak_ptr<TransferSessionDelegate> delegate_;
    QNetworkAccessManager* network_ = nullptr; // child of this worker
    std::map<std::int64_t, Entry> entries_;
    bool delivering_ = true;
};

} // namespace veltrane
