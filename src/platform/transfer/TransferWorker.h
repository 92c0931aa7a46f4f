#pragma once

#include "platform/core/PlatformError.h"
#include "platform/transfer/TransferRequest.h"
#include "platform/transfer/TransferResponse.h"
#include "platform/transfer/TransferSessionConfiguration.h"
#include "platform/transfer/TransferSessionDelegate.h"
#include "platform/transfer/TransferTask.h"
#include "platform/transfer/TransferTaskInfo.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QFile;
class QNetworkReply;
class QTimer;

namespace veltrane {

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
    };

    [[nodiscard]] static TransferTaskInfo infoOf(const Entry& entry);
    void send(Entry& entry);
    void deliverData(std::int64_t identifier);
    void finishReply(std::int64_t identifier);
    void complete(std::int64_t identifier, std::optional<PlatformError> error,
                  std::optional<TransferResponse> response);
    [[nodiscard]] std::shared_ptr<TransferSessionDelegate> delegate() const;

    TransferSessionConfiguration configuration_;
    std::weak_ptr<TransferSessionDelegate> delegate_;
    QNetworkAccessManager* network_ = nullptr; // child of this worker
    std::map<std::int64_t, Entry> entries_;
    bool delivering_ = true;
};

} // namespace veltrane
