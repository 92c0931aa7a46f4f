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
#include <utility>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::CannedHttpServer;

// Records every callback with the thread it arrived on.
class RecordingDelegate : public TransferSessionDelegate {
public:
    enum class Kind { data, sent, complete };
    struct Event {
        Kind kind = Kind::data;
        std::int64_t task = 0;
        QByteArray bytes{};
        std::int64_t sent = 0;
        std::int64_t expected = 0;
        std::optional<PlatformError> error{};
        std::optional<TransferResponse> response{};
        QThread* thread = QThread::currentThread();
    };

    void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) override {
        add({Kind::data, task.identifier, bytes});
    }
    void didSendBodyData(const TransferTaskInfo& task, std::int64_t sent, std::int64_t expected) override {
        add({Kind::sent, task.identifier, {}, sent, expected});
    }
    void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                     const std::optional<TransferResponse>& response) override {
        add({Kind::complete, task.identifier, {}, 0, 0, error, response});
    }
    std::vector<Event> events() const {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    // The completion of the task, once it has come, with its answer's bytes joined.
    std::optional<Event> completion(std::int64_t identifier) const {
        std::optional<Event> found;
        QByteArray joined;
        for (const auto& event : events()) {
            if (event.task == identifier && event.kind != Kind::sent) {
                joined += event.bytes;
                found = event.kind == Kind::complete ? std::optional<Event>(event) : found;
            }
        }
        if (found) {
            found->bytes = joined;
        }
        return found;
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
    // Starts an upload of `bytes` (or of a missing file) to `url` and returns its task.
    std::shared_ptr<TransferTask> upload(const QString& url, const std::optional<std::string>& bytes = "x",
                                         TransferSession* through = nullptr) {
        const fs::path path = fs::path(temp.path().toStdString()) / ("body" + std::to_string(++bodies));
        if (bytes) {
            std::ofstream(path, std::ios::binary) << *bytes;
        }
        TransferRequest request;
        request.url = QUrl(url + "/upload");
        request.headers = {{"Content-Type", "application/octet-stream"}, {"X-Probe", "yes"}};
        request.idleTimeout = idleTimeout.value_or(request.idleTimeout);
        auto task = (through ? through : session.get())->createUploadTask(request, path);
        if (description) {
            task->setDescription(*std::exchange(description, std::nullopt));
        }
        task->resume();
        return task;
    }
    // Waits for the task's completion, as reported to `to` (the fixture's delegate by default).
    RecordingDelegate::Event completion(const std::shared_ptr<TransferTask>& task,
                                        RecordingDelegate* to = nullptr) {
        const RecordingDelegate& events = to != nullptr ? *to : *delegate;
        EXPECT_TRUE(test::waitUntil([&] { return events.completion(task->identifier()).has_value(); }));
        return events.completion(task->identifier()).value_or(RecordingDelegate::Event{});
    }

    QTemporaryDir temp;
    int bodies = 0;
    std::optional<std::chrono::milliseconds> idleTimeout;
    std::optional<std::string> description; // of the next task
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::unique_ptr<TransferSession> session =
        std::make_unique<TransferSession>(TransferSessionConfiguration{"test.transfer"}, delegate);
};

// Byte-identical delivery and answers with error statuses are covered through the upload manager's
// tests, which upload through this session to a canned server.
TEST_F(TransferSessionTest, CallbacksComeInOrderFromTheSessionsOwnThread) {
    CannedHttpServer server(CannedHttpServer::answering(401, "boom"));
    const std::string bytes(3 * 1024 * 1024 + 17, 'b');
    const auto done = completion(upload(server.baseURL(), bytes));
    EXPECT_FALSE(done.error) << "an error status is a response, not a transport error";
    EXPECT_EQ(done.response.value_or(TransferResponse{}).statusCode, 401);
    EXPECT_EQ(done.bytes, "boom");
    EXPECT_EQ(server.requests().at(0).header("X-Probe"), "yes");
    const auto events = delegate->events();
    EXPECT_EQ(events.back().kind, RecordingDelegate::Kind::complete) << "completion is the last callback";
    std::int64_t lastSent = -1;
    for (const auto& event : events) {
        EXPECT_NE(event.thread, QThread::currentThread()) << "callbacks come from the session's thread";
        EXPECT_EQ(event.thread, events.front().thread) << "one serial delegate queue";
        if (event.kind == RecordingDelegate::Kind::sent && event.expected > 0) {
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
    EXPECT_EQ(refused.error->domain, "QNetworkReply");
    EXPECT_EQ(refused.error->code, QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(refused.error->localizedDescription, "Connection refused");
    EXPECT_FALSE(refused.response);

    const auto insecure = completion(upload("http://uploads.example.com"));
    ASSERT_TRUE(insecure.error);
    EXPECT_NE(insecure.error->localizedDescription.find("Refusing plain HTTP"), std::string::npos);

    CannedHttpServer server;
    EXPECT_TRUE(completion(upload(server.baseURL(), std::nullopt)).error) << "a missing body file";
    server.holdRequests(); // no answer from now on
    idleTimeout = std::chrono::milliseconds(300);
    EXPECT_TRUE(completion(upload(server.baseURL())).error) << "idle";
    idleTimeout.reset();
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
    description = "A";
    const auto first = upload(server.baseURL());
    const auto second = upload(server.baseURL());
    EXPECT_NE(first->identifier(), second->identifier());

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
