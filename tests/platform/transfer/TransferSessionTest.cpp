#include "platform/transfer/TransferSession.h"

#include "support/EventLoopWait.h"

#include <QNetworkReply>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace veltrane {
namespace {

namespace fs = std::filesystem;

// Records every callback with the thread it arrived on.
class RecordingDelegate : public TransferSessionDelegate {
public:
    struct Event {
        std::string kind; // "data", "sent", "complete"
        TransferTaskInfo task{};
        QByteArray bytes{};
        std::int64_t sent = 0;
        std::int64_t expected = 0;
        std::optional<PlatformError> error{};
        std::optional<TransferResponse> response{};
        QThread* thread = nullptr;
    };

    void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) override {
        add(Event{"data", task, bytes});
    }
    void didSendBodyData(const TransferTaskInfo& task, std::int64_t sent, std::int64_t expected) override {
        add(Event{"sent", task, {}, sent, expected});
    }
    void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                     const std::optional<TransferResponse>& response) override {
        add(Event{"complete", task, {}, 0, 0, error, response});
    }

    std::vector<Event> events() const {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    std::optional<Event> completion(std::int64_t identifier) const {
        for (const auto& event : events()) {
            if (event.kind == "complete" && event.task.identifier == identifier) {
                return event;
            }
        }
        return std::nullopt;
    }
    QByteArray receivedBytes(std::int64_t identifier) const {
        QByteArray joined;
        for (const auto& event : events()) {
            if (event.kind == "data" && event.task.identifier == identifier) {
                joined += event.bytes;
            }
        }
        return joined;
    }

private:
    void add(Event event) {
        event.thread = QThread::currentThread();
        const std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// An HTTP server on 127.0.0.1 and a free port, answering every upload with a canned reply.
class CannedServer {
public:
    CannedServer() {
        server_.Post("/upload", [this](const httplib::Request& request, httplib::Response& response) {
            {
                const std::lock_guard lock(mutex_);
                lastBody_ = request.body;
                lastHeaders_ = request.headers;
                response.status = status_;
                response.set_content(answer_, "text/plain");
            }
        });
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~CannedServer() {
        server_.stop();
        thread_.join();
    }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/upload").arg(port_)); }
    std::string lastBody() const {
        const std::lock_guard lock(mutex_);
        return lastBody_;
    }
    std::string header(const std::string& name) const {
        const std::lock_guard lock(mutex_);
        const auto found = lastHeaders_.find(name);
        return found == lastHeaders_.end() ? "<absent>" : found->second;
    }

    // The reply to later uploads; the server thread reads it under the lock.
    void setReply(int status, std::string answer) {
        const std::lock_guard lock(mutex_);
        status_ = status;
        answer_ = std::move(answer);
    }

private:
    int status_ = 201;
    std::string answer_ = "stored";
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string lastBody_;
    httplib::Headers lastHeaders_;
};

// A listening socket that never accepts or answers: the kernel completes connections.
class SilentListener {
public:
    SilentListener() {
        descriptor_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        EXPECT_EQ(::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(descriptor_, 4), 0);
        socklen_t length = sizeof address;
        ::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(descriptor_); }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/upload").arg(port_)); }

private:
    int descriptor_ = -1;
    int port_ = 0;
};

class TransferSessionTest : public ::testing::Test {
protected:
    fs::path writeBody(const std::string& bytes, const std::string& name = "body.multipart") {
        const fs::path path = fs::path(temp.path().toStdString()) / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    TransferRequest requestTo(const QUrl& url) {
        TransferRequest request;
        request.url = url;
        request.headers = {{"Content-Type", "application/octet-stream"}, {"X-Probe", "yes"}};
        return request;
    }
    bool waitForCompletion(std::int64_t identifier) {
        return test::waitUntil([&] { return delegate->completion(identifier).has_value(); });
    }

    QTemporaryDir temp;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::unique_ptr<TransferSession> session =
        std::make_unique<TransferSession>(TransferSessionConfiguration{"test.transfer"}, delegate);
};

TEST_F(TransferSessionTest, UploadsTheBodyFileAndReportsInOrderOnTheSessionThread) {
    CannedServer server;
    const std::string bytes(3 * 1024 * 1024 + 17, 'b');
    auto task = session->createUploadTask(requestTo(server.url()), writeBody(bytes));
    task->setDescription("JOB-1");
    task->resume();
    ASSERT_TRUE(waitForCompletion(task->identifier()));

    EXPECT_EQ(server.lastBody(), bytes);
    EXPECT_EQ(server.header("X-Probe"), "yes");
    EXPECT_EQ(server.header("Content-Length"), std::to_string(bytes.size()));

    const auto events = delegate->events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, "complete") << "completion is the last callback";
    const auto completion = *delegate->completion(task->identifier());
    EXPECT_FALSE(completion.error);
    ASSERT_TRUE(completion.response);
    EXPECT_EQ(completion.response->statusCode, 201);
    EXPECT_EQ(completion.task.description, "JOB-1");
    EXPECT_EQ(delegate->receivedBytes(task->identifier()), "stored");

    std::int64_t lastSent = -1;
    bool sawFull = false;
    for (const auto& event : events) {
        EXPECT_NE(event.thread, QThread::currentThread()) << "callbacks come from the session's thread";
        EXPECT_EQ(event.thread, events.front().thread) << "one serial delegate queue";
        if (event.kind == "sent" && event.expected > 0) {
            EXPECT_GE(event.sent, lastSent);
            lastSent = event.sent;
            sawFull = sawFull || (event.sent == event.expected &&
                                  event.expected == static_cast<std::int64_t>(bytes.size()));
        }
    }
    EXPECT_TRUE(sawFull);
}

TEST_F(TransferSessionTest, ErrorStatusIsAResponseNotATransportError) {
    CannedServer server;
    for (const int status : {500, 401, 404}) {
        const std::string answer = "boom " + std::to_string(status);
        server.setReply(status, answer);
        auto task = session->createUploadTask(requestTo(server.url()), writeBody("x"));
        task->resume();
        ASSERT_TRUE(waitForCompletion(task->identifier()));
        const auto completion = *delegate->completion(task->identifier());
        EXPECT_FALSE(completion.error) << status << ": " << completion.error->localizedDescription;
        ASSERT_TRUE(completion.response);
        EXPECT_EQ(completion.response->statusCode, status);
        EXPECT_EQ(delegate->receivedBytes(task->identifier()).toStdString(), answer);
    }
}

TEST_F(TransferSessionTest, PlainHttpToANonLoopbackHostFailsWithAClearError) {
    auto task =
        session->createUploadTask(requestTo(QUrl("http://uploads.example.com/upload")), writeBody("x"));
    task->resume();
    ASSERT_TRUE(waitForCompletion(task->identifier()));
    const auto completion = *delegate->completion(task->identifier());
    ASSERT_TRUE(completion.error);
    EXPECT_NE(completion.error->localizedDescription.find("Refusing plain HTTP"), std::string::npos);
    EXPECT_FALSE(completion.response);
}

TEST_F(TransferSessionTest, MissingBodyFileAndRefusedConnectionAreTransportErrors) {
    CannedServer server;
    auto missing =
        session->createUploadTask(requestTo(server.url()), fs::path(temp.path().toStdString()) / "none");
    missing->resume();
    ASSERT_TRUE(waitForCompletion(missing->identifier()));
    EXPECT_TRUE(delegate->completion(missing->identifier())->error);

    QUrl closed;
    {
        SilentListener listener; // take a free port, then close it
        closed = listener.url();
    }
    auto refused = session->createUploadTask(requestTo(closed), writeBody("x"));
    refused->resume();
    ASSERT_TRUE(waitForCompletion(refused->identifier()));
    const auto completion = *delegate->completion(refused->identifier());
    ASSERT_TRUE(completion.error);
    EXPECT_EQ(completion.error->domain, "QNetworkReply");
    EXPECT_EQ(completion.error->code, QNetworkReply::ConnectionRefusedError);
    EXPECT_EQ(completion.error->localizedDescription, "Connection refused");
}

TEST_F(TransferSessionTest, IdleTimeoutEndsAStalledTransfer) {
    SilentListener listener;
    TransferRequest request = requestTo(listener.url());
    request.idleTimeout = std::chrono::milliseconds(300);
    auto task = session->createUploadTask(request, writeBody("small"));
    task->resume();
    ASSERT_TRUE(waitForCompletion(task->identifier()));
    EXPECT_TRUE(delegate->completion(task->identifier())->error);
}

TEST_F(TransferSessionTest, ResourceTimeoutEndsATransferThatTakesTooLong) {
    auto limited = std::make_shared<RecordingDelegate>();
    TransferSessionConfiguration configuration{"test.limited"};
    configuration.resourceTimeout = std::chrono::seconds(1);
    TransferSession shortSession(configuration, limited);
    SilentListener listener;
    auto task = shortSession.createUploadTask(requestTo(listener.url()), writeBody("small"));
    task->resume();
    ASSERT_TRUE(test::waitUntil([&] { return limited->completion(task->identifier()).has_value(); }));
    const auto completion = *limited->completion(task->identifier());
    ASSERT_TRUE(completion.error);
    EXPECT_NE(completion.error->localizedDescription.find("did not finish within 1 seconds"),
              std::string::npos);
}

TEST_F(TransferSessionTest, AllTasksListsUnfinishedTasksWithTheirDescriptions) {
    SilentListener listener;
    auto first = session->createUploadTask(requestTo(listener.url()), writeBody("1"));
    auto second = session->createUploadTask(requestTo(listener.url()), writeBody("2"));
    EXPECT_NE(first->identifier(), second->identifier());
    first->setDescription("A");
    first->resume();

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
}

TEST_F(TransferSessionTest, NewSessionWithTheSameIdentifierHasNoTasksAndOldOneCallsNothingMore) {
    SilentListener listener;
    auto task = session->createUploadTask(requestTo(listener.url()), writeBody("1"));
    task->resume();
    session.reset(); // the "process" ends while the transfer runs
    const auto eventsAtEnd = delegate->events().size();
    task->resume(); // a stale handle does nothing

    TransferSession restarted(TransferSessionConfiguration{"test.transfer"}, delegate);
    std::atomic<int> count{-1};
    restarted.getAllTasks(
        [&](std::vector<TransferTaskInfo> tasks) { count = static_cast<int>(tasks.size()); });
    ASSERT_TRUE(test::waitUntil([&] { return count >= 0; }));
    EXPECT_EQ(count, 0);
    EXPECT_EQ(delegate->events().size(), eventsAtEnd);
    EXPECT_FALSE(delegate->completion(task->identifier()));
}

TEST_F(TransferSessionTest, GoneDelegateIsNotCalled) {
    CannedServer server;
    auto task = session->createUploadTask(requestTo(server.url()), writeBody("x"));
    std::weak_ptr<RecordingDelegate> weak = delegate;
    delegate.reset();
    task->resume();
    std::atomic<bool> answered{false};
    session->getAllTasks([&](std::vector<TransferTaskInfo> tasks) { answered = tasks.empty(); });
    ASSERT_TRUE(test::waitUntil([&] {
        if (answered) {
            return true;
        }
        session->getAllTasks([&](std::vector<TransferTaskInfo> tasks) { answered = tasks.empty(); });
        test::spinFor(std::chrono::milliseconds(20));
        return answered.load();
    }));
    EXPECT_TRUE(weak.expired());
}

} // namespace
} // namespace veltrane
