// The transfer session against a canned server. Delivery, headers, answer bodies and error statuses
// are covered through the upload manager's tests, which upload through it; here: transport failures,
// progress, the delegate's thread and the task list.
#include "platform/transfer/TransferSession.h"

#include "support/CannedHttpServer.h"
#include "support/EventLoopWait.h"

#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::CannedHttpServer;

// Keeps each task's completion, the threads callbacks came from and the body bytes reported sent.
class RecordingDelegate : public TransferSessionDelegate {
public:
    struct Completion {
        std::optional<PlatformError> error;
        std::optional<TransferResponse> response;
    };
    struct Record {
        std::map<std::int64_t, Completion> completions;
        std::set<QThread*> threads;
        std::int64_t sent = 0; // the last count reported with a known total
        bool sentInOrder = true;
    };

    void didReceiveData(const TransferTaskInfo&, const QByteArray&) override {
        update([](Record&) {});
    }
    void didSendBodyData(const TransferTaskInfo&, std::int64_t sent, std::int64_t expected) override {
        update([&](Record& record) {
            if (expected > 0) {
                record.sentInOrder = record.sentInOrder && sent >= record.sent;
                record.sent = sent;
            }
        });
    }
    void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                     const std::optional<TransferResponse>& response) override {
        update([&](Record& record) { record.completions[task.identifier] = Completion{error, response}; });
    }
    [[nodiscard]] Record record() const {
        const std::lock_guard lock(mutex_);
        return record_;
    }

private:
    template <typename Change> void update(Change&& change) {
        const std::lock_guard lock(mutex_);
        record_.threads.insert(QThread::currentThread());
        change(record_);
    }

    mutable std::mutex mutex_;
    Record record_;
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
    RecordingDelegate::Completion completion(const std::shared_ptr<TransferTask>& task,
                                             const RecordingDelegate* to = nullptr) {
        const RecordingDelegate& events = to != nullptr ? *to : *delegate;
        const auto done = [&] { return events.record().completions.contains(task->identifier()); };
        EXPECT_TRUE(test::waitUntil(done));
        return done() ? events.record().completions.at(task->identifier()) : RecordingDelegate::Completion{};
    }
    // The start of the failure's text, or "no error".
    std::string failure(const std::shared_ptr<TransferTask>& task, const RecordingDelegate* to = nullptr) {
        const auto done = completion(task, to);
        EXPECT_FALSE(done.response);
        return done.error ? done.error->localizedDescription : "no error";
    }

    QTemporaryDir temp;
    int bodies = 0;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::unique_ptr<TransferSession> session =
        std::make_unique<TransferSession>(TransferSessionConfiguration{"test.transfer"}, delegate);
};

TEST_F(TransferSessionTest, AnswersAreResponsesAndEverythingElseATransportErrorAllOnTheSessionsThread) {
    CannedHttpServer server(CannedHttpServer::answering(401, "boom"));
    const std::string bytes(3 * 1024 * 1024 + 17, 'b');
    const auto answered = completion(upload(server.baseURL(), bytes));
    EXPECT_FALSE(answered.error);
    EXPECT_EQ(answered.response.value_or(TransferResponse{}).statusCode, 401);
    EXPECT_TRUE(delegate->record().sentInOrder);
    EXPECT_EQ(delegate->record().sent, static_cast<std::int64_t>(bytes.size()));

    QString closed;
    {
        const CannedHttpServer gone;
        closed = gone.baseURL();
    }
    EXPECT_EQ(failure(upload(closed)), "Connection refused");
    EXPECT_EQ(failure(upload("http://uploads.example.com")).find("Refusing plain HTTP"), 0u);
    EXPECT_EQ(failure(upload(server.baseURL(), std::nullopt)).find("The upload body file could not be read"),
              0u);
    server.holdRequests(); // no answer from now on
    EXPECT_NE(failure(upload(server.baseURL(), "x", nullptr, std::chrono::milliseconds(300))), "no error");
    TransferSessionConfiguration limited{"test.limited"};
    limited.resourceTimeout = std::chrono::seconds(1);
    const auto limitedDelegate = std::make_shared<RecordingDelegate>();
    TransferSession shortSession(limited, limitedDelegate);
    EXPECT_EQ(failure(upload(server.baseURL(), "small", &shortSession), limitedDelegate.get()),
              "The transfer did not finish within 1 seconds");
    const auto threads = delegate->record().threads;
    EXPECT_EQ(threads.size(), 1u) << "one serial delegate queue";
    EXPECT_FALSE(threads.contains(QThread::currentThread()));
}

TEST_F(TransferSessionTest, AllTasksListsUnfinishedTasksAndANewSessionStartsWithNone) {
    CannedHttpServer server;
    server.holdRequests();
    const auto first = upload(server.baseURL());
    first->setDescription("A");
    const auto second = upload(server.baseURL());
    std::mutex mutex;
    std::optional<std::vector<TransferTaskInfo>> answer;
    session->getAllTasks([&](std::vector<TransferTaskInfo> tasks) {
        const std::lock_guard lock(mutex);
        answer = std::move(tasks);
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

    session.reset(); // the "process" ends while the transfers run
    first->resume(); // a stale handle does nothing
    TransferSession restarted(TransferSessionConfiguration{"test.transfer"}, delegate);
    std::atomic<int> count{-1};
    restarted.getAllTasks(
        [&](std::vector<TransferTaskInfo> tasks) { count = static_cast<int>(tasks.size()); });
    ASSERT_TRUE(test::waitUntil([&] { return count >= 0; }));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(delegate->record().completions.empty()) << "no completion after the end";
}

} // namespace
} // namespace veltrane
