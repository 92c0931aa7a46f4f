#include "upload/UploadManager.h"

#include "UploadManagerTestSupport.h"
#include "platform/dispatch/MainThread.h"
#include "support/EventLoopWait.h"
#include "upload/UploadQueueFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::TestIngestServer;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sits between the session and the manager's delegate and remembers the transport errors.
class RecordingProxyDelegate final : public TransferSessionDelegate {
public:
    explicit RecordingProxyDelegate(std::weak_ptr<TransferSessionDelegate> target)
        : target(std::move(target)) {}
    void didReceiveData(const TransferTaskInfo& task, const QByteArray& bytes) override {
        if (auto t = target.lock()) {
            t->didReceiveData(task, bytes);
        }
    }
    void didSendBodyData(const TransferTaskInfo& task, std::int64_t sent, std::int64_t expected) override {
        if (auto t = target.lock()) {
            t->didSendBodyData(task, sent, expected);
        }
    }
    void didComplete(const TransferTaskInfo& task, const std::optional<PlatformError>& error,
                     const std::optional<TransferResponse>& response) override {
        if (error) {
            const std::lock_guard lock(mutex);
            errors.push_back(error->localizedDescription);
        }
        if (auto t = target.lock()) {
            t->didComplete(task, error, response);
        }
    }
    std::vector<std::string> recordedErrors() {
        const std::lock_guard lock(mutex);
        return errors;
    }

    std::weak_ptr<TransferSessionDelegate> target;
    std::mutex mutex;
    std::vector<std::string> errors;
};

// Accepts connections, reads a little of each request and closes it mid-upload.
class ClosingServer {
public:
    ClosingServer() {
        descriptor_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(descriptor_, 4);
        socklen_t length = sizeof address;
        ::getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        // Every connection is closed, also the client's own reconnection attempts.
        thread_ = std::thread([this] {
            for (int client; (client = ::accept(descriptor_, nullptr, nullptr)) >= 0;) {
                char buffer[512];
                (void)::recv(client, buffer, sizeof buffer, 0);
                ::close(client);
            }
        });
    }
    ~ClosingServer() {
        ::shutdown(descriptor_, SHUT_RDWR);
        ::close(descriptor_);
        thread_.join();
    }
    QUrl apiBaseUrl() const { return QUrl(QString("http://127.0.0.1:%1/api/v1").arg(port_)); }

private:
    int descriptor_ = -1;
    int port_ = 0;
    std::thread thread_;
};

class UploadManagerTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(chunks); }

    UploadManager& make() {
        auto retryTimer = std::make_unique<test::FakeRetryTimer>();
        timer = retryTimer.get();
        manager = std::make_unique<UploadManager>(
            appData, clock, std::move(retryTimer), [this](std::weak_ptr<TransferSessionDelegate> delegate) {
                managerDelegate = delegate;
                proxy = std::make_shared<RecordingProxyDelegate>(delegate);
                return std::make_unique<TransferSession>(TransferSessionConfiguration{"test.uploads"}, proxy);
            });
        manager->setApiBaseUrlProvider([this] { return baseUrl; });
        manager->setChunkDirectoryProvider([this] { return std::optional<fs::path>(chunks); });
        manager->setTokenProvider([this] {
            ++tokenCalls;
            return token;
        });
        manager->setTokenRefresher([this]() -> QCoro::Task<void> {
            ++refresherCalls;
            token = "tok-2";
            co_return;
        });
        return *manager;
    }

    void writeChunk(const std::string& name, const std::string& bytes = "chunk-bytes") {
        std::ofstream(chunks / name, std::ios::binary) << bytes;
    }
    void enqueue(const std::string& name, std::optional<std::string> meetingId = "mtg-alpha-kickoff") {
        manager->enqueue(name, "prj-alpha", "Alpha", meetingId, "Kickoff", 300.0);
    }
    const UploadJob& job(const std::string& name) {
        for (const UploadJob& candidate : manager->jobs()) {
            if (candidate.filename == name) {
                return candidate;
            }
        }
        throw std::runtime_error("no job " + name);
    }
    bool waitFor(const std::function<bool()>& condition) { return test::waitUntil(condition); }
    // Waits until everything posted to the main thread so far has run.
    bool drainPosts() {
        bool reached = false;
        postToMain([&] { reached = true; });
        return waitFor([&] { return reached; });
    }
    bool waitForState(const std::string& name, UploadState state) {
        return waitFor([&] { return job(name).state == state; });
    }

    QTemporaryDir temp;
    fs::path appData{fs::path(temp.path().toStdString()) / "data" / "VeltraneRecorder"};
    fs::path chunks{fs::path(temp.path().toStdString()) / "chunks"};
    std::shared_ptr<test::FakeUploadClock> clock = std::make_shared<test::FakeUploadClock>();
    test::FakeRetryTimer* timer = nullptr;
    TestIngestServer server;
    std::optional<QUrl> baseUrl = server.apiBaseUrl();
    std::optional<std::string> token = "tok-1";
    int tokenCalls = 0;
    int refresherCalls = 0;
    std::weak_ptr<TransferSessionDelegate> managerDelegate;
    std::shared_ptr<RecordingProxyDelegate> proxy;
    std::unique_ptr<UploadManager> manager;
};

TEST_F(UploadManagerTest, ConstructionCreatesFoldersAndStartsNothing) {
    make();
    EXPECT_TRUE(fs::is_directory(appData / "upload_bodies"));
    EXPECT_EQ(manager->queueFilePath(), appData / "upload_queue.json");
    EXPECT_TRUE(manager->jobs().empty());
    EXPECT_FALSE(proxy) << "no session before first use";
    EXPECT_TRUE(manager->isSettled());
}

TEST_F(UploadManagerTest, SameFileNameTwiceMakesOneJobAndTheSecondCallSavesNothing) {
    baseUrl.reset();
    make();
    enqueue("a.wav");
    ASSERT_TRUE(fs::exists(manager->queueFilePath()));
    fs::remove(manager->queueFilePath());
    manager->enqueue("a.wav", "other-project", {}, {}, {}, {});
    EXPECT_EQ(manager->jobs().size(), 1u);
    EXPECT_EQ(manager->jobs().front().projectId, "prj-alpha");
    EXPECT_FALSE(fs::exists(manager->queueFilePath()));
}

TEST_F(UploadManagerTest, WithoutBaseUrlJobsWaitUntouchedAndNoTimerIsArmed) {
    baseUrl.reset();
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    const UploadJob& a = job("a.wav");
    EXPECT_EQ(a.state, UploadState::pending);
    EXPECT_EQ(a.attempts, 0);
    EXPECT_FALSE(a.lastError);
    EXPECT_FALSE(timer->isArmed());
    EXPECT_EQ(timer->armCount(), 0);
    EXPECT_EQ(server.arrivedCount(), 0u);
    EXPECT_TRUE(manager->isSettled());
    const auto saved = UploadQueueFile(appData).load();
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, manager->jobs());
}

TEST_F(UploadManagerTest, MissingChunkFileOrDirectoryLeavesTheJobPending) {
    make();
    enqueue("missing.wav");
    EXPECT_EQ(job("missing.wav").state, UploadState::pending);
    manager->setChunkDirectoryProvider([] { return std::optional<fs::path>(); });
    writeChunk("missing.wav");
    manager->retryAll();
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(job("missing.wav").state, UploadState::pending);
    EXPECT_EQ(job("missing.wav").attempts, 0);
    EXPECT_EQ(server.arrivedCount(), 0u);
}

TEST_F(UploadManagerTest, AtMostTwoRunAndTheThirdStartsAfterTheFirstCompletion) {
    server.holdRequests();
    make();
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        writeChunk(name);
        enqueue(name);
    }
    EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    EXPECT_EQ(job("b.wav").state, UploadState::uploading);
    EXPECT_EQ(job("c.wav").state, UploadState::pending);
    EXPECT_NE(job("a.wav").taskIdentifier, job("b.wav").taskIdentifier);
    ASSERT_TRUE(waitFor([&] { return server.arrivedCount() == 2; }));
    server.releaseOne();
    ASSERT_TRUE(waitFor([&] {
        return job("c.wav").state == UploadState::uploading &&
               (job("a.wav").state == UploadState::completed || job("b.wav").state == UploadState::completed);
    }));
    server.releaseOne();
    server.releaseOne();
    ASSERT_TRUE(waitFor([&] { return manager->isSettled(); }));
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        EXPECT_EQ(job(name).state, UploadState::completed) << name;
    }
}

TEST_F(UploadManagerTest, LoadedUploadingJobCountsTowardsTheLimitUntilReconciled) {
    UploadJob earlier = UploadJob::makeNew("old.wav", "prj", {}, {}, {}, {}, ReferenceDate{1});
    earlier.state = UploadState::uploading;
    earlier.taskIdentifier = 5;
    fs::create_directories(appData);
    ASSERT_TRUE(UploadQueueFile(appData).save({earlier}));
    server.holdRequests();
    make();
    EXPECT_FALSE(manager->isSettled());
    writeChunk("a.wav");
    writeChunk("b.wav");
    enqueue("a.wav");
    enqueue("b.wav");
    EXPECT_EQ(job("old.wav").state, UploadState::uploading);
    EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    EXPECT_EQ(job("b.wav").state, UploadState::pending);
    server.releaseOne();
    server.releaseOne();
    server.releaseOne();
}

TEST_F(UploadManagerTest, ServerErrorBodyBecomesTheErrorAndTheTimerRetriesAfterTwoSeconds) {
    server.script({{500, "Storage backend unavailable: retry later \xE2\x80\xBA"}});
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == 1; }));
    const UploadJob& a = job("a.wav");
    EXPECT_EQ(a.state, UploadState::pending);
    EXPECT_EQ(a.lastError, "Storage backend unavailable: retry later \xE2\x80\xBA");
    EXPECT_EQ(a.nextEarliestAttempt, clock->now().addingSeconds(2));
    EXPECT_FALSE(a.taskIdentifier);
    ASSERT_TRUE(timer->isArmed());
    EXPECT_EQ(timer->delay(), std::chrono::milliseconds(2000));
    EXPECT_FALSE(manager->isSettled());

    clock->advance(2);
    timer->fire();
    EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_EQ(server.received().size(), 2u);
}

TEST_F(UploadManagerTest, ErrorWithoutBodyIsUploadFailed) {
    server.script({{503, ""}});
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == 1; }));
    EXPECT_EQ(job("a.wav").lastError, "Upload failed");
}

TEST_F(UploadManagerTest, SixFailuresBackOffTwoToThirtyTwoSecondsThenFailUntilRetryAll) {
    server.script({{500, "e1"}, {500, "e2"}, {500, "e3"}, {500, "e4"}, {500, "e5"}, {500, "e6"}});
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    for (int attempt = 1; attempt <= 5; ++attempt) {
        ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == attempt; })) << attempt;
        const double waitSeconds = std::pow(2.0, attempt);
        EXPECT_EQ(job("a.wav").state, UploadState::pending);
        EXPECT_EQ(job("a.wav").nextEarliestAttempt, clock->now().addingSeconds(waitSeconds));
        EXPECT_EQ(timer->delay(), std::chrono::milliseconds(static_cast<int>(waitSeconds * 1000)));
        clock->advance(waitSeconds - 0.5);
        timer->fire(); // early: not yet eligible, the timer is armed again for the rest
        EXPECT_EQ(job("a.wav").state, UploadState::pending);
        EXPECT_EQ(timer->delay(), std::chrono::milliseconds(500));
        clock->advance(0.5);
        timer->fire();
        EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    }
    ASSERT_TRUE(waitForState("a.wav", UploadState::failed));
    EXPECT_EQ(job("a.wav").attempts, 6);
    EXPECT_EQ(job("a.wav").lastError, "e6");
    EXPECT_FALSE(timer->isArmed());
    ASSERT_TRUE(waitFor([&] { return manager->isSettled(); }));

    manager->retryAll();
    ASSERT_TRUE(waitFor([&] { return job("a.wav").state != UploadState::failed; }));
    // It starts at once, without waiting for a timer; the upload may already be done by now.
    EXPECT_TRUE(job("a.wav").state == UploadState::uploading || job("a.wav").state == UploadState::completed);
    EXPECT_FALSE(timer->isArmed());
    EXPECT_EQ(job("a.wav").attempts, 0);
    EXPECT_FALSE(job("a.wav").lastError);
    EXPECT_FALSE(job("a.wav").nextEarliestAttempt);
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
}

TEST_F(UploadManagerTest, RetryByIdResetsTheJobWhateverItsState) {
    baseUrl.reset();
    make();
    enqueue("a.wav");
    const std::string id = job("a.wav").id;
    manager->handleCompletion(id, 1, std::nullopt, TransferResponse{500, {}}, QByteArray("bad"));
    EXPECT_EQ(job("a.wav").attempts, 1);
    manager->retry(id);
    manager->retry("00000000-0000-4000-8000-000000000000");
    ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == 0; }));
    EXPECT_FALSE(job("a.wav").lastError);
    EXPECT_FALSE(job("a.wav").nextEarliestAttempt);
    EXPECT_EQ(job("a.wav").state, UploadState::pending);
}

TEST_F(UploadManagerTest, UnauthorizedRefreshesOnceAndTheNextAttemptAsksForTheTokenAgain) {
    server.script({{401, "token expired"}, {201, ""}});
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    ASSERT_TRUE(waitFor([&] { return refresherCalls == 1 && manager->jobs().front().attempts == 1; }));
    EXPECT_EQ(job("a.wav").state, UploadState::pending);
    EXPECT_EQ(job("a.wav").lastError, "token expired");
    EXPECT_EQ(job("a.wav").nextEarliestAttempt, clock->now().addingSeconds(2));
    ASSERT_TRUE(waitFor([&] { return timer->isArmed(); }));
    EXPECT_EQ(timer->delay(), std::chrono::milliseconds(2000));
    clock->advance(2);
    timer->fire();
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_EQ(refresherCalls, 1);
    EXPECT_EQ(tokenCalls, 2);
    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].headers.find("Authorization")->second, "Bearer tok-1");
    EXPECT_EQ(received[1].headers.find("Authorization")->second, "Bearer tok-2");
}

TEST_F(UploadManagerTest, NoTokenSendsNoAuthorizationHeader) {
    token.reset();
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_EQ(server.received().at(0).headers.count("Authorization"), 0u);
}

TEST_F(UploadManagerTest, ConnectionClosedMidUploadRecordsThePlatformErrorText) {
    ClosingServer closing;
    baseUrl = closing.apiBaseUrl();
    make();
    writeChunk("a.wav", std::string(4 * 1024 * 1024, 'a'));
    enqueue("a.wav");
    ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == 1; }));
    const auto errors = proxy->recordedErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(errors.front().empty());
    EXPECT_EQ(job("a.wav").lastError, errors.front());
    EXPECT_EQ(job("a.wav").state, UploadState::pending);
    EXPECT_FALSE(fs::exists(appData / "upload_bodies" / (job("a.wav").id + ".multipart")));
}

TEST_F(UploadManagerTest, SuccessCompletesKeepsChunkRemovesBodyAndServerGetsIdenticalBytes) {
    server.script({{500, "first failure"}, {201, ""}});
    make();
    std::string chunkBytes(2 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < chunkBytes.size(); ++i) {
        chunkBytes[i] = static_cast<char>((i * 7919) % 251);
    }
    writeChunk("Meeting 1.WAV", chunkBytes);
    enqueue("Meeting 1.WAV");
    ASSERT_TRUE(waitFor([&] { return job("Meeting 1.WAV").attempts == 1; }));
    clock->advance(2);
    timer->fire();
    const fs::path bodyFile = appData / "upload_bodies" / (job("Meeting 1.WAV").id + ".multipart");
    EXPECT_TRUE(fs::exists(bodyFile)) << "written before the transfer starts";
    ASSERT_TRUE(waitForState("Meeting 1.WAV", UploadState::completed));
    const UploadJob& done = job("Meeting 1.WAV");
    EXPECT_EQ(done.progress, 1.0);
    EXPECT_EQ(done.lastError, "first failure");
    EXPECT_EQ(done.attempts, 1);
    EXPECT_FALSE(done.taskIdentifier);
    EXPECT_FALSE(fs::exists(bodyFile));
    EXPECT_EQ(readFile(chunks / "Meeting 1.WAV"), chunkBytes);

    const auto received = server.received();
    ASSERT_EQ(received.size(), 2u);
    const auto& last = received.back();
    const std::string contentType = last.headers.find("Content-Type")->second;
    ASSERT_EQ(contentType.size(), std::string("multipart/form-data; boundary=").size() + 45);
    EXPECT_TRUE(contentType.starts_with("multipart/form-data; boundary=Boundary-"));
    EXPECT_NE(received[0].headers.find("Content-Type")->second, contentType) << "a new boundary per attempt";
    EXPECT_EQ(last.parts.find("file")->second.content, chunkBytes);
    EXPECT_EQ(last.parts.find("file")->second.filename, "Meeting 1.WAV");
    EXPECT_EQ(last.parts.find("file")->second.content_type, "audio/wav");
    EXPECT_EQ(last.parts.find("project_id")->second.content, "prj-alpha");
    EXPECT_EQ(last.parts.find("meeting_id")->second.content, "mtg-alpha-kickoff");
    EXPECT_EQ(last.parts.size(), 3u);
}

TEST_F(UploadManagerTest, JobWithoutMeetingSendsTwoPartsAsMp4) {
    make();
    writeChunk("chunk.m4a");
    enqueue("chunk.m4a", std::nullopt);
    ASSERT_TRUE(waitForState("chunk.m4a", UploadState::completed));
    const auto parts = server.received().at(0).parts;
    EXPECT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts.count("meeting_id"), 0u);
    EXPECT_EQ(parts.find("file")->second.content_type, "audio/mp4");
}

TEST_F(UploadManagerTest, ProgressIgnoresUnknownTotalsAndResponsePiecesAreJoined) {
    baseUrl.reset();
    make();
    enqueue("a.wav");
    (void)manager->session();
    auto delegate = managerDelegate.lock();
    ASSERT_TRUE(delegate);
    const TransferTaskInfo task{77, job("a.wav").id};
    delegate->didSendBodyData(task, 5, 10);
    ASSERT_TRUE(waitFor([&] { return job("a.wav").progress == 0.5; }));
    delegate->didSendBodyData(task, 10, 0);
    delegate->didSendBodyData(task, 10, -1);
    bool marker = false;
    postToMain([&] { marker = true; });
    ASSERT_TRUE(waitFor([&] { return marker; }));
    EXPECT_EQ(job("a.wav").progress, 0.5);

    // Found by task identifier when the description is unknown.
    delegate->didSendBodyData(TransferTaskInfo{77, std::nullopt}, 1, 4);
    marker = false;
    postToMain([&] { marker = true; });
    ASSERT_TRUE(waitFor([&] { return marker; }));
    EXPECT_EQ(job("a.wav").progress, 0.5) << "the job has no task identifier 77";

    delegate->didReceiveData(task, "Quota ");
    delegate->didReceiveData(task, "exceeded");
    delegate->didComplete(task, std::nullopt, TransferResponse{413, {}});
    ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == 1; }));
    EXPECT_EQ(job("a.wav").lastError, "Quota exceeded");

    // Invalid UTF-8 is no message; a completion without response and error is a failure too.
    delegate->didReceiveData(task, QByteArray("\xff\xfe", 2));
    delegate->didComplete(task, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return job("a.wav").attempts == 2; }));
    EXPECT_EQ(job("a.wav").lastError, "Upload failed");
    EXPECT_EQ(job("a.wav").nextEarliestAttempt, clock->now().addingSeconds(4));

    // A completion that matches no job changes nothing.
    const auto before = manager->jobs();
    manager->handleCompletion(std::string("unknown"), 999, std::nullopt, TransferResponse{200, {}},
                              std::nullopt);
    EXPECT_EQ(manager->jobs(), before);
}

TEST_F(UploadManagerTest, ReconcileKeepsLiveTaskResetsOthersAndRemovesOrphanBodiesOnly) {
    UploadJob live = UploadJob::makeNew("live.wav", "prj", {}, {}, {}, {}, ReferenceDate{1});
    live.state = UploadState::uploading;
    live.taskIdentifier = 3;
    UploadJob gone = UploadJob::makeNew("gone.wav", "prj", {}, {}, {}, {}, ReferenceDate{2});
    gone.state = UploadState::uploading;
    gone.taskIdentifier = 4;
    gone.progress = 0.7;
    const fs::path bodies = appData / "upload_bodies";
    fs::create_directories(bodies);
    ASSERT_TRUE(UploadQueueFile(appData).save({live, gone}));
    for (const std::string& name :
         std::vector<std::string>{live.id + ".multipart", gone.id + ".multipart", "ORPHAN.multipart",
                                  "notes.txt", "x.multipart.bak"}) {
        std::ofstream(bodies / name) << "old";
    }
    server.holdRequests();
    make();
    writeChunk("gone.wav");
    manager->reconcileTasks({TransferTaskInfo{41, live.id}, TransferTaskInfo{42, std::nullopt},
                             TransferTaskInfo{43, std::string("unrelated")}});
    ASSERT_TRUE(waitFor([&] { return job("live.wav").taskIdentifier == 41; }));
    EXPECT_EQ(job("gone.wav").state, UploadState::uploading);
    EXPECT_EQ(job("live.wav").state, UploadState::uploading);
    EXPECT_EQ(job("live.wav").taskIdentifier, 41);
    EXPECT_NE(job("gone.wav").taskIdentifier, 4) << "restarted with a new task";
    EXPECT_EQ(job("gone.wav").progress, 0.0);
    EXPECT_TRUE(fs::exists(bodies / (live.id + ".multipart")));
    EXPECT_EQ(readFile(bodies / (live.id + ".multipart")), "old");
    EXPECT_FALSE(fs::exists(bodies / "ORPHAN.multipart"));
    EXPECT_TRUE(fs::exists(bodies / "notes.txt"));
    EXPECT_TRUE(fs::exists(bodies / "x.multipart.bak"));
    EXPECT_NE(readFile(bodies / (gone.id + ".multipart")), "old") << "old body deleted, a new one written";
    server.releaseOne();
}

TEST_F(UploadManagerTest, ReconcilingNeverResetsATransferThisProcessStarted) {
    server.holdRequests();
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    const auto task = job("a.wav").taskIdentifier;
    manager->reconcileTasks({}); // a task list taken before the upload started
    ASSERT_TRUE(drainPosts());
    EXPECT_EQ(job("a.wav").taskIdentifier, task);
    EXPECT_TRUE(fs::exists(appData / "upload_bodies" / (job("a.wav").id + ".multipart")));
    server.releaseOne();
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_EQ(server.arrivedCount(), 1u);
}

TEST_F(UploadManagerTest, LaunchCleanUpRemovesOnlyTemporariesOfInterruptedWrites) {
    const std::string tmp = ".tmp-3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    const fs::path bodies = appData / "upload_bodies";
    const std::vector<std::pair<fs::path, bool>> files = {
        // path, removed
        {bodies / ("A.multipart" + tmp), true},    {appData / ("upload_queue.json" + tmp), true},
        {bodies / "A.multipart.tmp-draft", false}, {bodies / ("notes.txt" + tmp), false},
        {appData / ("other.json" + tmp), false},   {appData / ("upload_queue.json" + tmp + "1"), false}};
    fs::create_directories(bodies);
    for (const auto& [path, removed] : files) {
        std::ofstream(path) << "partial";
    }
    make();
    manager->reconcileTasks({});
    ASSERT_TRUE(drainPosts());
    for (const auto& [path, removed] : files) {
        EXPECT_EQ(fs::exists(path), !removed) << path;
    }
}

TEST_F(UploadManagerTest, UnwritableBodyIsAFailedAttemptRetriedAfterTheBackOff) {
    make();
    const fs::path bodies = appData / "upload_bodies";
    fs::remove(bodies);
    std::ofstream(bodies) << "a file where the folder should be";
    writeChunk("a.wav");
    enqueue("a.wav");
    ASSERT_EQ(job("a.wav").attempts, 1);
    EXPECT_EQ(job("a.wav").lastError, "Could not write the upload body: Not a directory");
    fs::remove(bodies);
    fs::create_directory(bodies);
    clock->advance(2);
    timer->fire();
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
}

TEST_F(UploadManagerTest, FullDiskFailsTheAttemptAndLeavesNoPartialBody) {
    const fs::path bodies = appData / "upload_bodies";
    fs::create_directories(bodies);
    if (::geteuid() != 0 || ::mount("tmpfs", bodies.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "needs root and a tmpfs mount";
    }
    const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(bodies.c_str(), MNT_DETACH); });
    make();
    writeChunk("a.wav", std::string(256 * 1024, 'a'));
    enqueue("a.wav");
    EXPECT_EQ(job("a.wav").state, UploadState::pending);
    EXPECT_EQ(job("a.wav").lastError, "Could not write the upload body: No space left on device");
    EXPECT_TRUE(fs::is_empty(bodies));
    EXPECT_TRUE(timer->isArmed());
}

TEST_F(UploadManagerTest, ReconnectSessionResetsInterruptedJobsAfterARestart) {
    UploadJob interrupted = UploadJob::makeNew("a.wav", "prj", {}, {}, {}, {}, ReferenceDate{1});
    interrupted.state = UploadState::uploading;
    interrupted.taskIdentifier = 9;
    fs::create_directories(appData);
    ASSERT_TRUE(UploadQueueFile(appData).save({interrupted}));
    make();
    writeChunk("a.wav");
    manager->reconnectSession();
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    ASSERT_TRUE(waitFor([&] { return manager->isSettled(); }));
}

TEST_F(UploadManagerTest, UnreadableQueueFileIsKeptAsideAndTheNextSaveHoldsOnlyTheNewJob) {
    fs::create_directories(appData);
    std::ofstream(appData / "upload_queue.json") << R"([{"id":"3F2504E0-4F89-41D3-9A0C-0305E82C3301",)"
                                                    R"("filename":"a","projectId":"p","createdAt":1,)"
                                                    R"("state":"paused","progress":0,"attempts":0}])";
    baseUrl.reset();
    make();
    EXPECT_TRUE(manager->jobs().empty());
    enqueue("new.wav");
    const auto saved = UploadQueueFile(appData).load();
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 1u);
    EXPECT_EQ(saved->front().filename, "new.wav");
    int kept = 0;
    for (const auto& entry : fs::directory_iterator(appData)) {
        kept += entry.path().filename().string().starts_with("upload_queue.unreadable-") ? 1 : 0;
    }
    EXPECT_EQ(kept, 1);
}

TEST_F(UploadManagerTest, GoneManagerIgnoresLateTimerAndRefresh) {
    server.script({{401, "expired"}});
    make();
    writeChunk("a.wav");
    enqueue("a.wav");
    ASSERT_TRUE(waitFor([&] { return manager->jobs().front().attempts == 1; }));
    manager->retryAll();
    manager.reset();
    test::spinFor(std::chrono::milliseconds(20)); // posted work finds the manager gone
    SUCCEED();
}

} // namespace
} // namespace veltrane
