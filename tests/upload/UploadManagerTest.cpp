#include "upload/UploadManager.h"

#include "platform/dispatch/MainThread.h"
#include "support/CannedHttpServer.h"
#include "support/EventLoopWait.h"
#include "upload/UploadManagerTestSupport.h"
#include "upload/UploadQueueFile.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <sys/mount.h>
#include <unistd.h>

namespace veltrane {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

UploadJob interruptedJob(const std::string& name, std::int64_t taskIdentifier, double createdAt = 1) {
    UploadJob job = UploadJob::makeNew(name, "prj", {}, {}, {}, {}, ReferenceDate{createdAt});
    job.state = UploadState::uploading;
    job.taskIdentifier = taskIdentifier;
    return job;
}

class UploadManagerTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(chunks); }

    UploadManager& make() {
        auto retryTimer = std::make_unique<test::FakeRetryTimer>();
        timer = retryTimer.get();
        manager = std::make_unique<UploadManager>(
            appData, clock, std::move(retryTimer), [this](std::weak_ptr<TransferSessionDelegate> delegate) {
                managerDelegate = delegate;
                return std::make_unique<TransferSession>(TransferSessionConfiguration{"test.uploads"},
                                                         delegate);
            });
        manager->setAPIBaseURLProvider([this] { return baseURL; });
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
    void writeAndEnqueue(const std::string& name) {
        writeChunk(name);
        enqueue(name);
    }
    const UploadJob& job(const std::string& name) {
        for (const UploadJob& candidate : manager->jobs()) {
            if (candidate.filename == name) {
                return candidate;
            }
        }
        throw std::runtime_error("no job " + name);
    }
    fs::path bodyFile(const std::string& name) {
        return appData / "upload_bodies" / (job(name).id + ".multipart");
    }
    static bool waitFor(const std::function<bool()>& condition) { return test::waitUntil(condition); }
    // Waits until everything posted to the main thread so far has run.
    static bool drainPosts() {
        bool reached = false;
        postToMain([&] { reached = true; });
        return waitFor([&] { return reached; });
    }
    bool waitForState(const std::string& name, UploadState state) {
        return waitFor([&] { return job(name).state == state; });
    }
    bool waitForAttempts(const std::string& name, int attempts) {
        return waitFor([&] { return job(name).attempts == attempts; });
    }
    // Lets the retry timer go off once the back-off has passed.
    void retryAfter(double seconds) {
        clock->advance(seconds);
        timer->fire();
    }

    QTemporaryDir temp;
    fs::path appData{fs::path(temp.path().toStdString()) / "data" / "VeltraneRecorder"};
    fs::path chunks{fs::path(temp.path().toStdString()) / "chunks"};
    std::shared_ptr<test::FakeUploadClock> clock = std::make_shared<test::FakeUploadClock>();
    test::FakeRetryTimer* timer = nullptr;
    test::CannedHttpServer server{test::CannedHttpServer::answering(201, "")};
    std::optional<QUrl> baseURL = QUrl(server.baseURL() + "/api/v1");
    std::optional<std::string> token = "tok-1";
    int tokenCalls = 0;
    int refresherCalls = 0;
    std::weak_ptr<TransferSessionDelegate> managerDelegate;
    std::unique_ptr<UploadManager> manager;
};

TEST_F(UploadManagerTest, JobsWaitUntouchedWithoutBaseURLChunkFileOrChunkFolderAndANameIsQueuedOnce) {
    baseURL.reset();
    token.reset();
    make();
    writeChunk("a.m4a");
    enqueue("a.m4a", std::nullopt);
    enqueue("missing.wav");
    EXPECT_EQ(UploadQueueFile(appData).load(), manager->jobs());
    fs::remove(manager->queueFilePath());
    manager->enqueue("a.m4a", "other-project", {}, {}, {},
                     {}); // the same name again changes and saves nothing
    EXPECT_EQ(manager->jobs().size(), 2u);
    EXPECT_EQ(job("a.m4a").projectId, "prj-alpha");
    EXPECT_FALSE(fs::exists(manager->queueFilePath()));
    baseURL = QUrl(server.baseURL() + "/api/v1");
    manager->retryAll();
    ASSERT_TRUE(waitForState("a.m4a", UploadState::completed));
    // Without a meeting or a token: two parts and no authorization.
    const auto request = server.requests().at(0);
    EXPECT_FALSE(request.hasHeader("Authorization"));
    EXPECT_EQ(request.parts.size(), 2u);
    EXPECT_EQ(request.parts.count("meeting_id"), 0u);
    EXPECT_EQ(request.parts.find("file")->second.content_type, "audio/mp4");
    manager->setChunkDirectoryProvider([] { return std::optional<fs::path>(); });
    writeChunk("missing.wav");
    manager->retryAll();
    ASSERT_TRUE(drainPosts());
    EXPECT_EQ(job("missing.wav").state, UploadState::pending);
    EXPECT_EQ(job("missing.wav").attempts, 0);
    EXPECT_FALSE(job("missing.wav").lastError);
    EXPECT_EQ(server.count(), 1u);
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
    EXPECT_NE(task, job("b.wav").taskIdentifier);
    manager->reconcileTasks({}); // a task list taken before the uploads started
    ASSERT_TRUE(drainPosts());
    EXPECT_EQ(job("a.wav").taskIdentifier, task);
    EXPECT_TRUE(fs::exists(bodyFile("a.wav")));
    ASSERT_TRUE(waitFor([&] { return server.count() == 2; }));
    server.releaseOne();
    ASSERT_TRUE(waitFor([&] { return job("c.wav").state == UploadState::uploading; }));
    server.releaseOne();
    server.releaseOne();
    ASSERT_TRUE(waitFor([&] { return manager->isSettled(); }));
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
        EXPECT_EQ(job(name).state, UploadState::completed) << name;
    }
    EXPECT_EQ(server.count(), 3u);
}

TEST_F(UploadManagerTest, FailuresBackOffTwoToThirtyTwoSecondsThenFailUntilRetryAll) {
    server.script({{500, "Storage backend unavailable \xE2\x80\xBA"},
                   {500, "e2"},
                   {503, ""},
                   {500, "e4"},
                   {500, "e5"},
                   {500, "e6"}});
    make();
    writeAndEnqueue("a.wav");
    const std::vector<std::string> errors = {"Storage backend unavailable \xE2\x80\xBA", "e2",
                                             "Upload failed", "e4", "e5"};
    for (int attempt = 1; attempt <= 5; ++attempt) {
        ASSERT_TRUE(waitForAttempts("a.wav", attempt)) << attempt;
        const double waitSeconds = std::pow(2.0, attempt);
        EXPECT_EQ(job("a.wav").state, UploadState::pending);
        EXPECT_EQ(job("a.wav").lastError, errors[attempt - 1]);
        EXPECT_EQ(job("a.wav").nextEarliestAttempt, clock->now().addingSeconds(waitSeconds));
        EXPECT_FALSE(job("a.wav").taskIdentifier);
        EXPECT_EQ(timer->delay(), std::chrono::milliseconds(static_cast<int>(waitSeconds * 1000)));
        retryAfter(waitSeconds - 0.5); // early: not yet eligible, the timer is armed again for the rest
        EXPECT_EQ(job("a.wav").state, UploadState::pending);
        EXPECT_EQ(timer->delay(), std::chrono::milliseconds(500));
        retryAfter(0.5);
        EXPECT_EQ(job("a.wav").state, UploadState::uploading);
    }
    ASSERT_TRUE(waitForState("a.wav", UploadState::failed));
    EXPECT_EQ(job("a.wav").attempts, 6);
    EXPECT_EQ(job("a.wav").lastError, "e6");
    EXPECT_FALSE(timer->isArmed());
    ASSERT_TRUE(waitFor([&] { return manager->isSettled(); }));

    manager->retryAll(); // starts at once, without waiting for a timer
    ASSERT_TRUE(waitFor([&] { return job("a.wav").state != UploadState::failed; }));
    EXPECT_FALSE(timer->isArmed());
    EXPECT_EQ(job("a.wav").attempts, 0);
    EXPECT_FALSE(job("a.wav").lastError || job("a.wav").nextEarliestAttempt);
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
}

TEST_F(UploadManagerTest, UnauthorizedRefreshesOnceAndTheNextAttemptAsksForTheTokenAgain) {
    server.script({{401, "token expired"}});
    make();
    writeAndEnqueue("a.wav");
    ASSERT_TRUE(waitFor([&] { return refresherCalls == 1 && job("a.wav").attempts == 1; }));
    EXPECT_EQ(job("a.wav").lastError, "token expired");
    ASSERT_TRUE(waitFor([&] { return timer->isArmed(); }));
    EXPECT_EQ(timer->delay(), std::chrono::milliseconds(2000));
    retryAfter(2);
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
    EXPECT_EQ(refresherCalls, 1);
    EXPECT_EQ(tokenCalls, 2);
    const auto received = server.requests();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].header("Authorization"), "Bearer tok-1");
    EXPECT_EQ(received[1].header("Authorization"), "Bearer tok-2");
}

TEST_F(UploadManagerTest, SuccessCompletesKeepsChunkRemovesBodyAndServerGetsIdenticalBytes) {
    server.script({{500, "first failure"}});
    make();
    std::string chunkBytes(2 * 1024 * 1024 + 3, '\0');
    for (std::size_t i = 0; i < chunkBytes.size(); ++i) {
        chunkBytes[i] = static_cast<char>((i * 7919) % 251);
    }
    writeChunk("Meeting 1.WAV", chunkBytes);
    enqueue("Meeting 1.WAV");
    ASSERT_TRUE(waitForAttempts("Meeting 1.WAV", 1));
    retryAfter(2);
    EXPECT_TRUE(fs::exists(bodyFile("Meeting 1.WAV"))) << "written before the transfer starts";
    const fs::path body = bodyFile("Meeting 1.WAV");
    ASSERT_TRUE(waitForState("Meeting 1.WAV", UploadState::completed));
    const UploadJob& done = job("Meeting 1.WAV");
    EXPECT_EQ(done.progress, 1.0);
    EXPECT_EQ(done.lastError, "first failure");
    EXPECT_EQ(done.attempts, 1);
    EXPECT_FALSE(done.taskIdentifier);
    EXPECT_FALSE(fs::exists(body));
    EXPECT_EQ(readFile(chunks / "Meeting 1.WAV"), chunkBytes);

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 2u);
    const auto& last = received.back();
    const std::string contentType = last.header("Content-Type");
    ASSERT_EQ(contentType.size(), std::string("multipart/form-data; boundary=").size() + 45);
    EXPECT_TRUE(contentType.starts_with("multipart/form-data; boundary=Boundary-"));
    EXPECT_NE(received[0].header("Content-Type"), contentType) << "a new boundary per attempt";
    EXPECT_EQ(last.target, "/api/v1/ingestion/upload");
    EXPECT_TRUE(last.parts.find("file")->second.content == chunkBytes);
    EXPECT_EQ(last.parts.find("file")->second.filename, "Meeting 1.WAV");
    EXPECT_EQ(last.parts.find("file")->second.content_type, "audio/wav");
    EXPECT_EQ(last.parts.find("project_id")->second.content, "prj-alpha");
    EXPECT_EQ(last.parts.find("meeting_id")->second.content, "mtg-alpha-kickoff");
    EXPECT_EQ(last.parts.size(), 3u);
}

TEST_F(UploadManagerTest, ProgressIgnoresUnknownTotalsResponsePiecesAreJoinedAndRetryResets) {
    baseURL.reset();
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
    delegate->didSendBodyData(TransferTaskInfo{77, std::nullopt}, 1, 4); // no job has task 77
    ASSERT_TRUE(drainPosts());
    EXPECT_EQ(job("a.wav").progress, 0.5);

    delegate->didReceiveData(task, "Quota ");
    delegate->didReceiveData(task, "exceeded");
    delegate->didComplete(task, std::nullopt, TransferResponse{413, {}});
    ASSERT_TRUE(waitForAttempts("a.wav", 1));
    EXPECT_EQ(job("a.wav").lastError, "Quota exceeded");

    // Invalid UTF-8 is no message; a completion without response and error is a failure too.
    delegate->didReceiveData(task, QByteArray("\xff\xfe", 2));
    delegate->didComplete(task, std::nullopt, std::nullopt);
    ASSERT_TRUE(waitForAttempts("a.wav", 2));
    EXPECT_EQ(job("a.wav").lastError, "Upload failed");
    EXPECT_EQ(job("a.wav").nextEarliestAttempt, clock->now().addingSeconds(4));
    // A transport error's text is the job's error.
    delegate->didComplete(task, PlatformError{"QNetworkReply", 2, "Connection closed", nullptr},
                          std::nullopt);
    ASSERT_TRUE(waitForAttempts("a.wav", 3));
    EXPECT_EQ(job("a.wav").lastError, "Connection closed");

    const auto before = manager->jobs();
    manager->handleCompletion(std::string("unknown"), 999, std::nullopt, TransferResponse{200, {}},
                              std::nullopt);
    EXPECT_EQ(manager->jobs(), before);
    manager->retry("00000000-0000-4000-8000-000000000000");
    manager->retry(job("a.wav").id); // whatever its state
    ASSERT_TRUE(waitForAttempts("a.wav", 0));
    EXPECT_FALSE(job("a.wav").lastError || job("a.wav").nextEarliestAttempt);
}

TEST_F(UploadManagerTest, ReconcileKeepsLiveTaskResetsOthersAndRemovesOrphanBodiesAndTemporariesOnly) {
    const UploadJob live = interruptedJob("live.wav", 3, 1);
    UploadJob gone = interruptedJob("gone.wav", 4, 2);
    gone.progress = 0.7;
    const fs::path bodies = appData / "upload_bodies";
    fs::create_directories(bodies);
    ASSERT_TRUE(UploadQueueFile(appData).save({live, gone}));
    for (const std::string& name :
         {live.id + ".multipart", gone.id + ".multipart", std::string("ORPHAN.multipart")}) {
        std::ofstream(bodies / name) << "old";
    }
    // Temporaries of interrupted writes go; everything else that merely looks alike stays.
    const std::string tmp = ".tmp-3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    const std::vector<std::pair<fs::path, bool>> files = {
        // path, removed
        {bodies / ("A.multipart" + tmp), true},
        {appData / ("upload_queue.json" + tmp), true},
        {bodies / "A.multipart.tmp-draft", false},
        {bodies / ("notes.txt" + tmp), false},
        {appData / ("other.json" + tmp), false},
        {appData / ("upload_queue.json" + tmp + "1"), false},
        {bodies / "notes.txt", false},
        {bodies / "x.multipart.bak", false}};
    for (const auto& [path, removed] : files) {
        std::ofstream(path) << "partial";
    }
    server.holdRequests();
    make();
    writeChunk("gone.wav");
    manager->reconcileTasks({TransferTaskInfo{41, live.id}, TransferTaskInfo{42, std::nullopt},
                             TransferTaskInfo{43, std::string("unrelated")}});
    ASSERT_TRUE(waitFor([&] { return job("live.wav").taskIdentifier == 41; }));
    EXPECT_EQ(job("live.wav").state, UploadState::uploading);
    EXPECT_EQ(job("gone.wav").state, UploadState::uploading);
    EXPECT_NE(job("gone.wav").taskIdentifier, 4) << "restarted with a new task";
    EXPECT_EQ(job("gone.wav").progress, 0.0);
    EXPECT_EQ(readFile(bodies / (live.id + ".multipart")), "old");
    EXPECT_NE(readFile(bodies / (gone.id + ".multipart")), "old") << "old body deleted, a new one written";
    EXPECT_FALSE(fs::exists(bodies / "ORPHAN.multipart"));
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
    writeAndEnqueue("a.wav");
    ASSERT_EQ(job("a.wav").attempts, 1);
    EXPECT_EQ(job("a.wav").lastError, "Could not write the upload body: Not a directory");
    fs::remove(bodies);
    fs::create_directory(bodies);
    if (::geteuid() == 0 && ::mount("tmpfs", bodies.c_str(), "tmpfs", 0, "size=64k") == 0) {
        const std::shared_ptr<void> unmount(nullptr, [&](void*) { ::umount2(bodies.c_str(), MNT_DETACH); });
        writeChunk("a.wav", std::string(256 * 1024, 'a'));
        retryAfter(2);
        EXPECT_EQ(job("a.wav").lastError, "Could not write the upload body: No space left on device");
        EXPECT_TRUE(fs::is_empty(bodies)) << "no partial body";
        EXPECT_TRUE(timer->isArmed());
        writeChunk("a.wav");
    }
    retryAfter(4);
    ASSERT_TRUE(waitForState("a.wav", UploadState::completed));
}

TEST_F(UploadManagerTest, GoneManagerIgnoresLateTimerAndRefresh) {
    server.script({{401, "expired"}});
    make();
    writeAndEnqueue("a.wav");
    ASSERT_TRUE(waitForAttempts("a.wav", 1));
    manager->retryAll();
    manager.reset();
    EXPECT_TRUE(drainPosts()); // posted work finds the manager gone
}

} // namespace
} // namespace veltrane
