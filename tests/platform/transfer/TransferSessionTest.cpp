// Transport failures, progress and the delegate's thread; delivery is covered by the upload tests, and a
// new session's empty task list by `upload --wait` end to end, which waits for the reconciliation.
#include "platform/transfer/TransferSession.h"

#include "support/CannedHttpServer.h"
#include "support/EventLoopWait.h"

#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

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
        std::map<std::string, Completion> completions; // by task description
        std::set<QThread*> threads;
        std::int64_t sent = 0; // the last count reported with a known total
    };

    void didReceiveData(const TransferTaskInfo&, const QByteArray&) override {
        update([](Record&) {});
    }
    void didSendBodyData(const TransferTaskInfo&, std::int64_t sent, std::int64_t expected) override {
        update([&](Record& record) { record.sent = expected > 0 ? sent : record.sent; });
    }
    void didComplete(const TransferTaskInfo& task, const std::expected<void, PlatformError>& outcome,
                     const std::optional<TransferResponse>& response) override {
        update([&](Record& record) {
            record.completions[task.description.value_or("")] =
                Completion{outcome ? std::nullopt : std::optional(outcome.error()), response};
        });
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
    // Starts an upload of `bytes` (of a missing file when absent) to `url`, described by its body's name.
    std::shared_ptr<TransferTask> upload(const QString& url, const std::optional<std::string>& bytes = "x",
                                         std::chrono::milliseconds idleTimeout = std::chrono::seconds(60)) {
        const std::string name = "body" + std::to_string(++bodies);
        const fs::path path = fs::path(temp.path().toStdString()) / name;
        if (bytes) {
            std::ofstream(path, std::ios::binary) << *bytes;
        }
        auto task =
            session->createUploadTask(TransferRequest{QUrl(url + "/upload"), "POST", {}, idleTimeout}, path);
        task->setDescription(name);
        task->resume();
        return task;
    }
    // Waits for the task's completion.
    RecordingDelegate::Completion completion(const std::shared_ptr<TransferTask>& task) {
        const auto done = [&] { return delegate->record().completions.contains(*task->description()); };
        EXPECT_TRUE(test::waitUntil(done));
        return done() ? delegate->record().completions.at(*task->description())
                      : RecordingDelegate::Completion{};
    }
    // The failure's text, or "no error".
    std::string failure(const std::shared_ptr<TransferTask>& task) {
        const auto done = completion(task);
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
    EXPECT_EQ(answered.response.value_or(TransferResponse{}).reasonPhrase, "Unauthorized");
    EXPECT_EQ(delegate->record().sent, static_cast<std::int64_t>(bytes.size()));

    QString closed;
    {
        const CannedHttpServer gone;
        closed = gone.baseURL();
    }
    const auto refused = completion(upload(closed));
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->localizedDescription, "Connection refused");
    EXPECT_EQ(refused.error->code, TransferError::kNoAnswer) << "no server answered";
    EXPECT_EQ(failure(upload("http://uploads.example.com")).find("Refusing plain HTTP"), 0u);
    EXPECT_EQ(failure(upload(server.baseURL(), std::nullopt)).find("The upload body file could not be read"),
              0u);
    server.holdRequests(); // no answer from now on
    EXPECT_EQ(failure(upload(server.baseURL(), "x", std::chrono::milliseconds(300))),
              "The server stopped answering");
    const auto threads = delegate->record().threads;
    EXPECT_EQ(threads.size(), 1u) << "one serial delegate queue";
    EXPECT_FALSE(threads.contains(QThread::currentThread()));
    TransferSessionConfiguration limited{"test.limited"};
    limited.resourceTimeout = std::chrono::seconds(1);
    session = std::make_unique<TransferSession>(limited, delegate);
    EXPECT_EQ(failure(upload(server.baseURL())), "The transfer did not finish within 1 seconds");
}

} // namespace
} // namespace veltrane
