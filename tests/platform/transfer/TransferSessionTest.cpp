// The transfer session against a canned server. Byte-identical delivery, headers and answers with
// error statuses are covered through the upload manager's tests, which upload through it.
#include "platform/transfer/TransferSession.h"

#include "support/CannedHttpServer.h"
#include "support/EventLoopWait.h"

#include <QNetworkReply>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::CannedHttpServer;

// Records every callback with the thread it came from.
class RecordingDelegate : public TransferSessionDelegate {
public:
    struct Event {
        std::int64_t task = 0;
        QByteArray bytes{};
        std::int64_t sent = -1; // of a progress report with a known total
        std::optional<PlatformError> error{};
        std::optional<TransferResponse> response{};
        bool complete = false;
        QThread* thread = QThread::currentThread();
    };

    void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) override {
        add({task.identifier, bytes});
    }
    void didSendBodyData(const TransferTaskInfo& task, std::int64_t sent, std::int64_t expected) override {
        if (expected > 0) {
            add({task.identifier, {}, sent});
        }
    }
    void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                     const std::optional<TransferResponse>& response) override {
        add({task.identifier, {}, -1, error, response, true});
    }
    std::vector<Event> events() const {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    // The task's completion once it has come, with every byte received for it.
    std::optional<Event> completion(std::int64_t task) const {
        std::optional<Event> done;
        QByteArray bytes;
        for (const Event& event : events()) {
            bytes += event.task == task ? event.bytes : QByteArray();
            done = event.task == task && event.complete ? std::optional<Event>(event) : done;
        }
        if (done) {
            done->bytes = bytes;
        }
        return done;
    }

private:
    void add(Event event) {
        const std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

class TransferSessionTest : public ::testing::Test {
protected:
    // Starts an upload of `bytes` (of a missing file when absent) to `url` through `through`.
    std::shared_ptr<TransferTask> upload(const QString& url, const std::optional<std::string>& bytes = "x",
                                         TransferSession* through = nullptr,
                                         std::chrono::milliseconds idleTimeout = std::chrono::seconds(60)) {
        const fs::path path = fs::path(temp.path().toStdString()) / ("body" + std::to_string(++bodies));
        if (bytes) {
            std::ofstream(path, std::ios::binary) << *bytes;
        }
        auto task =
            (through ? through : session.get())
                ->createUploadTask(TransferRequest{QUrl(url + "/upload"), "POST", {}, idleTimeout}, path);
        task->resume();
        return task;
    }
    // Waits for the task's completion as `to` (the fixture's delegate by default) receives it.
    RecordingDelegate::Event completion(const std::shared_ptr<TransferTask>& task,
                                        const RecordingDelegate* to = nullptr) {
        const RecordingDelegate& events = to != nullptr ? *to : *delegate;
        EXPECT_TRUE(test::waitUntil([&] { return events.completion(task->identifier()).has_value(); }));
        return events.completion(task->identifier()).value_or(RecordingDelegate::Event{});
    }

    QTemporaryDir temp;
    int bodies = 0;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::unique_ptr<TransferSession> session =
        std::make_unique<TransferSession>(TransferSessionConfiguration{"test.transfer"}, delegate);
};

TEST_F(TransferSessionTest, CallbacksComeInOrderFromTheSessionsOwnThread) {
    CannedHttpServer server(CannedHttpServer::answering(401, "boom"));
    const std::string bytes(3 * 1024 * 1024 + 17, 'b');
    const auto done = completion(upload(server.baseURL(), bytes));
    EXPECT_FALSE(done.error) << "an error status is a response, not a transport error";
    EXPECT_EQ(done.response.value_or(TransferResponse{}).statusCode, 401);
    EXPECT_EQ(done.bytes, "boom");
    const auto events = delegate->events();
    EXPECT_TRUE(events.back().complete) << "completion is the last callback";
    std::int64_t lastSent = -1;
    for (const auto& event : events) {
        EXPECT_NE(event.thread, QThread::currentThread()) << "callbacks come from the session's thread";
        EXPECT_EQ(event.thread, events.front().thread) << "one serial delegate queue";
        if (event.sent >= 0) {
            EXPECT_GE(event.sent, lastSent);
            lastSent = event.sent;
        }
    }
    EXPECT_EQ(lastSent, static_cast<std::int64_t>(bytes.size()));
}

TEST_F(TransferSessionTest, RefusedMissingAndStalledTransfersAreTransportErrors) {
    QString closed;
    {
        const CannedHttpServer gone;
        closed = gone.baseURL();
    }
    const auto refused = completion(upload(closed));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->code, QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(refused.error->localizedDescription, "Connection refused");
    EXPECT_FALSE(refused.response);
    const auto insecure = completion(upload("http://uploads.example.com"));
    ASSERT_TRUE(insecure.error);
    EXPECT_NE(insecure.error->localizedDescription.find("Refusing plain HTTP"), std::string::npos);

    CannedHttpServer server;
    EXPECT_TRUE(completion(upload(server.baseURL(), std::nullopt)).error) << "a missing body file";
    server.holdRequests(); // no answer from now on
    EXPECT_TRUE(completion(upload(server.baseURL(), "x", nullptr, std::chrono::milliseconds(300))).error);
    TransferSessionConfiguration limited{"test.limited"};
    limited.resourceTimeout = std::chrono::seconds(1);
    const auto limitedDelegate = std::make_shared<RecordingDelegate>();
    TransferSession shortSession(limited, limitedDelegate);
    const auto tooLong = completion(upload(server.baseURL(), "small", &shortSession), limitedDelegate.get());
    ASSERT_TRUE(tooLong.error);
    EXPECT_NE(tooLong.error->localizedDescription.find("did not finish within 1 seconds"), std::string::npos);
}

TEST_F(TransferSessionTest, AllTasksListsUnfinishedTasksAndANewSessionStartsWithNone) {
    CannedHttpServer server;
    server.holdRequests();
    const auto first = upload(server.baseURL());
    first->setDescription("A");
    const auto second = upload(server.baseURL());
    std::mutex mutex;
    std::optional<std::vector<TransferTaskInfo>> answer;
    QThread* answeredOn = nullptr;
    session->getAllTasks([&](std::vector<TransferTaskInfo> tasks) {
        const std::lock_guard lock(mutex);
        answer = std::move(tasks);
        answeredOn = QThread::currentThread();
    });
    ASSERT_TRUE(test::waitUntil([&] {
        const std::lock_guard lock(mutex);
        return answer.has_value();
    }));
    ASSERT_EQ(answer->size(), 2u);
    EXPECT_EQ(answer->at(0).identifier, first->identifier());
    EXPECT_EQ(answer->at(0).description, "A");
    EXPECT_EQ(answer->at(1).identifier, second->identifier());
    EXPECT_FALSE(answer->at(1).description);
    EXPECT_NE(answeredOn, QThread::currentThread());

    session.reset(); // the "process" ends while the transfers run
    const auto eventsAtEnd = delegate->events().size();
    first->resume(); // a stale handle does nothing
    TransferSession restarted(TransferSessionConfiguration{"test.transfer"}, delegate);
    std::atomic<int> count{-1};
    restarted.getAllTasks(
        [&](std::vector<TransferTaskInfo> tasks) { count = static_cast<int>(tasks.size()); });
    ASSERT_TRUE(test::waitUntil([&] { return count >= 0; }));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(delegate->events().size(), eventsAtEnd);
}

} // namespace
} // namespace veltrane
