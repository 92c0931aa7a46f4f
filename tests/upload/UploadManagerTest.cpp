// The upload manager with a hand-moved clock and timer. Delivery, kept failures, retry-all: CliUpload.
#include "upload/UploadManager.h"

#include "platform/dispatch/MainThread.h"
#include "support/CannedHttpServer.h"
#include "support/CliProcess.h"
#include "support/EventLoopWait.h"
#include "upload/UploadManagerTestSupport.h"
#include "upload/UploadQueueFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::waitUntil;

class UploadManagerTest : public ::testing::Test {
protected:
    void make() {
        fs::create_directories(chunks);
        auto retryTimer = std::make_unique<test::FakeRetryTimer>();
        timer = retryTimer.get();
        manager = std::make_unique<UploadManager>(appData, clock, std::move(retryTimer));
        manager->setAPIBaseURLProvider([this] { return baseURL; });
        manager->setChunkDirectoryProvider([this] { return std::optional<fs::path>(chunks); });
        manager->setTokenProvider([this] { return token; });
        manager->setTokenRefresher([this]() -> QCoro::Task<void> {
            ++refresherCalls;
            token = "tok-2";
            co_return;
        });
    }

    void writeChunk(const std::string& name, const std::string& bytes = "chunk-bytes") {
        std::ofstream(chunks / name, std::ios::binary) << bytes;
    }
    void writeAndEnqueue(const std::string& name) {
        writeChunk(name);
        manager->enqueue(name, {"prj-alpha", "Alpha", "mtg-alpha-kickoff", "Kickoff"}, 300.0);
    }
    const UploadJob& job(const std::string& name) {
        const auto found = std::ranges::find(manager->jobs(), name, &UploadJob::filename);
        return found != manager->jobs().end() ? *found : throw std::runtime_error("no job " + name);
    }
    // Waits until everything posted to the main thread so far has run.
    static bool drainPosts() {
        bool reached = false;
        postToMain([&] { reached = true; });
        return waitUntil([&] { return reached; });
    }
    bool waitForState(const std::string& name, UploadState state) {
        return waitUntil([&] { return job(name).state == state; });
    }
    bool waitForAttempts(const std::string& name, int attempts) {
        return waitUntil([&] { return job(name).attempts == attempts; });
    }
    // Lets the retry timer go off once the back-off has passed.
    void retryAfter(double seconds) {
        clock->advance(seconds);
        timer->fire();
    }

    QTemporaryDir temp;
    fs::path appData{fs::path(temp.path().toStdString()) / "data" / "VeltraneRecorder"};
    fs::path bodies{appData / "upload_bodies"};
    fs::path chunks{fs::path(temp.path().toStdString()) / "chunks"};
    std::shared_ptr<test::FakeUploadClock> clock = std::make_shared<test::FakeUploadClock>();
    test::FakeRetryTimer* timer = nullptr;
    test::CannedHttpServer server{test::CannedHttpServer::answering(201, "")};
    std::optional<QUrl> baseURL = QUrl(server.baseURL() + "/api/v1");
    std::optional<std::string> token = "tok-1";
    int refresherCalls = 0;
    std::unique_ptr<UploadManager> manager;
};

TEST_F(UploadManagerTest,
       JobsWaitWithoutBaseURLOrChunkFileAnUnreachableServerCostsNoAttemptAndANameIsQueuedOnce) {
    baseURL.reset();
    make();
    writeAndEnqueue("a.wav");
    manager->enqueue("missing.wav", {"prj-alpha", {}, {}, {}}, {});
    manager->enqueue("a.wav", {"other-project", {}, {}, {}}, {}); // ignored
    ASSERT_EQ(manager->jobs().size(), 2u);
    EXPECT_EQ(job("a.wav").projectId, "prj-alpha");
    EXPECT_EQ(job("a.wav").folder, chunks.string());
    EXPECT_EQ(UploadQueueFile(appData).load().value()->jobs, manager->jobs());
    EXPECT_EQ(fs::status(appData).permissions(), fs::perms::owner_all);
    {
        const test::CannedHttpServer gone;
        baseURL = QUrl(gone.baseURL());
    }
    manager->retryAll();
    ASSERT_TRUE(waitUntil([&] { return job("a.wav").waitingFor == UploadWait::server; }));
    EXPECT_EQ(job("a.wav").attempts, 0) << "a refused connection is no answer, and no attempt";
    EXPECT_EQ(timer->delay(), std::chrono::milliseconds(2000));
    retryAfter(2); // the probe gets no answer either: the next one comes later
    ASSERT_TRUE(waitUntil([&] { return timer->delay() == std::chrono::milliseconds(4000); }));
    EXPECT_EQ(job("a.wav").attempts, 0);
    EXPECT_EQ(job("a.wav").state, UploadState::pending);
    EXPECT_TRUE(job("missing.wav").waitingText()->starts_with("Server unreachable since "));
    baseURL = QUrl(server.baseURL() + "/api/v1");
    fs::remove(bodies);
    std::ofstream(bodies) << "a file where the folder should be";
    retryAfter(4);
    ASSERT_EQ(job("a.wav").attempts, 1) << "an unwritable body is a failed attempt";
    EXPECT_EQ(job("a.wav").lastError, "Could not write the upload body: Not a directory");
    fs::remove(bodies);
    fs::create_directory(bodies);
    retryAfter(2);
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_TRUE(fs::is_empty(bodies)) << "the body goes with the completion";
    EXPECT_EQ(job("missing.wav").state, UploadState::pending);
    EXPECT_EQ(job("missing.wav").attempts, 0);
    EXPECT_FALSE(job("missing.wav").waitingFor) << "the server's answer ends the wait of every job";
    EXPECT_EQ(server.count(), 1u);
}

TEST_F(UploadManagerTest, AQueueFileThatCannotBeWrittenIsReportedAndWrittenOnceItCanBe) {
    baseURL.reset();
    make();
    fs::create_directory(appData / "upload_queue.json"); // no file can be renamed over it
    writeAndEnqueue("a.wav");
    ASSERT_TRUE(manager->queueSaveError());
    EXPECT_TRUE(manager->problemText().contains("Is a directory")) << manager->problemText().toStdString();
    EXPECT_EQ(manager->jobs().size(), 1u) << "the list in memory is what counts";
    fs::remove(appData / "upload_queue.json");
    ASSERT_TRUE(waitUntil([&] { return !manager->queueSaveError(); })) << "retried by itself";
    EXPECT_EQ(UploadQueueFile(appData).load().value()->jobs, manager->jobs());
    EXPECT_TRUE(manager->problemText().isEmpty());
}

TEST_F(UploadManagerTest, AtMostTwoRunTheThirdStartsAfterTheFirstCompletionAndReconcilingLeavesThemAlone) {
    server.holdRequests();
    make();
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        writeAndEnqueue(name);
    }
    EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    EXPECT_EQ(job("b.wav").state, UploadState::uploading);
    EXPECT_EQ(job("c.wav").state, UploadState::pending);
    const auto task = job("a.wav").taskIdentifier;
    manager->reconcileTasks({}); // a task list taken before the uploads started
    ASSERT_TRUE(drainPosts());
    EXPECT_EQ(job("a.wav").taskIdentifier, task);
    EXPECT_TRUE(fs::exists(bodies / (job("a.wav").id + ".multipart")));
    ASSERT_TRUE(waitUntil([&] { return server.count() == 2; }));
    ASSERT_TRUE(waitUntil([&] { return job("a.wav").progress == 1.0; })) << "the body is sent, no answer yet";
    server.releaseOne();
    ASSERT_TRUE(waitForState("c.wav", UploadState::uploading));
    server.releaseOne();
    server.releaseOne();
    ASSERT_TRUE(waitUntil([&] { return manager->isSettled(); }));
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        EXPECT_EQ(job(name).state, UploadState::completed) << name;
    }
    EXPECT_EQ(server.count(), 3u);
}

TEST_F(UploadManagerTest, AServerThatCannotBeReachedIsNamedAsOnEveryScreen) {
    baseURL = QUrl(server.baseURL().replace("http:", "https:") + "/api/v1"); // no TLS there
    make();
    writeAndEnqueue("a.wav");
    ASSERT_TRUE(waitForAttempts("a.wav", 1));
    EXPECT_TRUE(job("a.wav").lastError->starts_with("Couldn't reach the server at " +
                                                    baseURL->authority().toStdString() + " ("))
        << *job("a.wav").lastError;
}

TEST_F(UploadManagerTest, FailuresBackOffTwoToThirtyTwoSecondsThenTheJobFails) {
    server.script({{500, "Storage backend unavailable \xE2\x80\xBA\nsecond line"},
                   {503, ""},
                   {413, "<html><body>too large</body></html>"},
                   {500, std::string(100'000, 'x')},
                   {302, ""},
                   {500, R"({"detail":"e6"})"}});
    make();
    writeAndEnqueue("a.wav");
    const std::string serverError = "Server answered 500 Internal Server Error";
    const std::vector<std::string> errors = {
        serverError + ": Storage backend unavailable \xE2\x80\xBA", "Server answered 503 Service Unavailable",
        "Server answered 413 Payload Too Large", serverError + ": " + std::string(200, 'x') + "\xE2\x80\xA6",
        "Server answered 302 Found; redirects are not followed"};
    for (int attempt = 1; attempt <= 5; ++attempt) {
        ASSERT_TRUE(waitForAttempts("a.wav", attempt)) << attempt;
        const double waitSeconds = std::pow(2.0, attempt);
        EXPECT_EQ(job("a.wav").state, UploadState::pending);
        EXPECT_EQ(job("a.wav").lastError, errors[attempt - 1]);
        EXPECT_EQ(job("a.wav").nextEarliestAttempt, clock->now().addingSeconds(waitSeconds));
        EXPECT_EQ(timer->delay(), std::chrono::milliseconds(static_cast<int>(waitSeconds * 1000)));
        retryAfter(waitSeconds - 0.5); // early: armed again for the rest
        EXPECT_EQ(job("a.wav").state, UploadState::pending);
        EXPECT_EQ(timer->delay(), std::chrono::milliseconds(500));
        retryAfter(0.5);
        EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    }
    ASSERT_TRUE(waitForState("a.wav", UploadState::failed));
    EXPECT_EQ(job("a.wav").attempts, 6);
    EXPECT_EQ(job("a.wav").lastError, serverError + ": e6");
    EXPECT_FALSE(timer->isArmed());
    ASSERT_TRUE(waitUntil([&] { return manager->isSettled(); }));
}

TEST_F(UploadManagerTest, UnauthorizedRefreshesOnceThenPausesWithoutUsingAttemptsUntilSignIn) {
    server.script({{401, "token expired"}, {401, R"({"detail":"Not authenticated"})"}});
    make();
    writeAndEnqueue("a.wav");
    ASSERT_TRUE(waitUntil([&] { return refresherCalls == 1 && timer->isArmed(); }));
    EXPECT_EQ(job("a.wav").lastError, "Server answered 401 Unauthorized: token expired");
    EXPECT_EQ(timer->delay(), std::chrono::milliseconds(2000));
    retryAfter(2); // the refreshed token is refused too: only the user can repair that
    ASSERT_TRUE(waitUntil([&] { return manager->isPausedForSignIn() && manager->isSettled(); }));
    EXPECT_EQ(job("a.wav").waitingText(), "Waiting for sign-in");
    EXPECT_EQ(job("a.wav").attempts, 0);
    manager->resumeAfterSignIn();
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_EQ(refresherCalls, 1);
    const auto received = server.requests();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].header("Authorization"), "Bearer tok-1");
    EXPECT_EQ(received[2].header("Authorization"), "Bearer tok-2");
    manager->retryAll();
    manager.reset();
    EXPECT_TRUE(drainPosts()); // posted work finds the manager gone
}

TEST_F(UploadManagerTest, ReconcileKeepsLiveTaskResetsOthersAndRemovesOrphanBodiesAndTemporariesOnly) {
    const auto interrupted = [](const std::string& name, std::int64_t task, double createdAt) {
        UploadJob job = UploadJob::makeNew(name, "prj", {}, {}, {}, {}, ReferenceDate{createdAt});
        job.state = UploadState::uploading;
        job.taskIdentifier = task;
        job.progress = 0.7;
        return job;
    };
    const UploadJob live = interrupted("live.wav", 3, 1);
    const UploadJob gone = interrupted("gone.wav", 4, 2);
    fs::create_directories(bodies);
    ASSERT_TRUE(UploadQueueFile(appData).save({live, gone}));
    for (const std::string& name : {live.id + ".multipart", gone.id + ".multipart"}) {
        std::ofstream(bodies / name) << "old";
    }
    // Orphan bodies and temporaries of interrupted writes go; what merely looks alike stays.
    const std::string tmp = ".tmp-3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    const std::vector<std::pair<fs::path, bool>> files = {
        // path, removed
        {bodies / "ORPHAN.multipart", true},           {bodies / ("A.multipart" + tmp), true},
        {appData / ("upload_queue.json" + tmp), true}, {bodies / ("notes.txt" + tmp), false},
        {appData / ("other.json" + tmp), false},       {bodies / "x.multipart.bak", false}};
    for (const auto& [path, removed] : files) {
        std::ofstream(path) << "partial";
    }
    server.holdRequests();
    make();
    writeChunk("gone.wav");
    manager->reconcileTasks({TransferTaskInfo{41, live.id}, TransferTaskInfo{42, std::nullopt},
                             TransferTaskInfo{43, std::string("unrelated")}});
    ASSERT_TRUE(waitUntil([&] { return job("live.wav").taskIdentifier == 41; }));
    EXPECT_EQ(job("live.wav").state, UploadState::uploading);
    EXPECT_EQ(job("gone.wav").state, UploadState::uploading);
    EXPECT_NE(job("gone.wav").taskIdentifier, 4) << "restarted with a new task";
    EXPECT_EQ(job("gone.wav").progress, 0.0);
    EXPECT_EQ(readFile(bodies / (live.id + ".multipart")), "old");
    EXPECT_NE(readFile(bodies / (gone.id + ".multipart")), "old") << "old body deleted, a new one written";
    ASSERT_TRUE(drainPosts());
    for (const auto& [path, removed] : files) {
        EXPECT_EQ(fs::exists(path), !removed) << path;
    }
}

} // namespace
} // namespace veltrane
