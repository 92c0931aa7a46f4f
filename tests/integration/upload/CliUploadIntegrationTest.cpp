// The upload commands of the real command line against the stand-in server program: chunks
// recorded with --project reach the server byte for byte, failed deliveries stay queued until a
// later `upload --wait`, failed jobs come back with `retry-all`, and misuse exits with 2.
#include "support/CliProcess.h"
#include "support/StandInServer.h"
#include "support/TonePlayer.h"

#include <QDir>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliUpload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid() && chunks.isValid());
        for (const char* folder : {"home", "data", "config", "cache", "server"}) {
            ASSERT_TRUE(QDir(home.path()).mkpath(folder));
            environment.insert(QString("XDG_%1_HOME").arg(QString(folder).toUpper()), home.filePath(folder));
        }
        environment.insert("HOME", home.filePath("home"));
        // No session bus: the token goes to the file store inside the private data folder.
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.filePath("no-bus"));
    }

    [[nodiscard]] fs::path serverFolder() const { return home.filePath("server").toStdString(); }
    CliRun run(const QStringList& arguments, const QByteArray& input = {}) {
        return runCli(arguments, 60'000, environment, input);
    }
    // Points the command line at the server and signs in there.
    void signInAt(const StandInServer& server) {
        ASSERT_TRUE(server.isRunning());
        environment.insert("VELTRANE_SERVER_URL", QString::fromStdString(server.baseURL()));
        const CliRun login = run({"login", "--email", StandInServer::kDemoEmail}, "demo-password\n");
        ASSERT_EQ(login.exitCode, 0) << login.err.toStdString();
    }
    [[nodiscard]] QStringList recordArguments() const {
        return {"record",   "--dir",     chunks.path(), "--device-id", "rig1",
                "--format", "wav",       "--seconds",   "12",          "--chunk-seconds",
                "5",        "--project", "prj-alpha",   "--meeting",   "mtg-alpha-kickoff"};
    }
    // The queue as `uploads` lists it, one "state|attempts|file|context|error" row per job.
    QStringList listedJobs() {
        const CliRun list = run({"uploads"});
        EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
        return QString(list.out).replace('\t', '|').split('\n', Qt::SkipEmptyParts);
    }
    void expectDeliveredByteForByte() {
        const fs::path delivered = serverFolder() / "prj-alpha" / "mtg-alpha-kickoff";
        const auto recorded = filesIn(chunks);
        ASSERT_EQ(recorded.size(), 3u);
        ASSERT_EQ(std::distance(fs::directory_iterator(delivered), fs::directory_iterator()), 3);
        for (const fs::path& chunk : recorded) {
            const std::string local = readFile(chunk);
            EXPECT_FALSE(local.empty()) << chunk;
            EXPECT_TRUE(readFile(delivered / chunk.filename()) == local) << chunk.filename();
        }
    }

    QTemporaryDir home;
    QTemporaryDir chunks;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(CliUpload, RecordedChunksReachTheServerByteForByte) {
    StandInServer server(StandInMode::program, serverFolder());
    signInAt(server);
    Tone tone(440, 40, "uploadTone");
    sleepSeconds(1);
    const CliRun record = run(recordArguments());
    ASSERT_EQ(record.exitCode, 0) << record.err.toStdString() << record.out.toStdString();
    EXPECT_TRUE(record.err.contains("Uploads: 3 completed, 0 pending, 0 failed")) << record.err.toStdString();
    expectDeliveredByteForByte();
    const QStringList jobs = listedJobs();
    ASSERT_EQ(jobs.size(), 3);
    for (const QString& job : jobs) {
        // Names looked up on the server.
        EXPECT_TRUE(job.startsWith("completed|0|") && job.endsWith("|Alpha Research › Kickoff|"))
            << job.toStdString();
    }
}

TEST_F(CliUpload, FailedDeliveriesStayQueuedUntilUploadWait) {
    {
        StandInServer failing(StandInMode::program, serverFolder(), {"--fail-uploads", "100"});
        signInAt(failing);
        Tone tone(440, 40, "uploadTone");
        sleepSeconds(1);
        QProcess record;
        record.setProcessEnvironment(environment);
        record.setProcessChannelMode(QProcess::MergedChannels);
        record.start(cliPath(), recordArguments());
        QString seen;
        ASSERT_TRUE(waitForOutput(record, "Recording stopped", seen)) << seen.toStdString();
        // While it owns the queue, no other process may rewrite it.
        const CliRun concurrent = run({"retry-all"});
        EXPECT_EQ(concurrent.exitCode, 1);
        EXPECT_TRUE(concurrent.err.contains("in use by another VeltraneRecorder process"))
            << concurrent.err.toStdString();
        // The uploads keep being retried; an interruption ends the wait and keeps the queue.
        ::kill(static_cast<pid_t>(record.processId()), SIGTERM);
        ASSERT_TRUE(record.waitForFinished(60'000));
        EXPECT_EQ(record.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(record.exitCode(), 0) << record.readAll().toStdString();
    }
    EXPECT_FALSE(fs::exists(serverFolder() / "prj-alpha" / "mtg-alpha-kickoff"));
    for (const QString& job : listedJobs()) {
        EXPECT_TRUE(job.startsWith("pending|") || job.startsWith("uploading|")) << job.toStdString();
    }

    // A healthy server on the same data folder; the chunk folder is the remembered one.
    StandInServer healthy(StandInMode::program, serverFolder());
    signInAt(healthy); // the restarted server has forgotten its sessions
    const CliRun upload = run({"upload", "--wait"});
    ASSERT_EQ(upload.exitCode, 0) << upload.err.toStdString();
    expectDeliveredByteForByte();
    const QStringList delivered = listedJobs();
    ASSERT_EQ(delivered.size(), 3);
    for (const QString& job : delivered) {
        EXPECT_TRUE(job.startsWith("completed|")) << job.toStdString();
    }
    // The first chunk failed at least once while recording: its count and text are kept.
    EXPECT_FALSE(delivered[0].startsWith("completed|0|")) << delivered[0].toStdString();
    EXPECT_TRUE(delivered[0].endsWith("|Alpha Research › Kickoff|Injected failure"))
        << delivered[0].toStdString();
}

TEST_F(CliUpload, RetryAllBringsBackFailedJobs) {
    // A queue left by an earlier run: one job failed six times, one already delivered.
    ASSERT_TRUE(QDir().mkpath(home.filePath("data/Veltrane/VeltraneRecorder")));
    std::ofstream(home.filePath("data/Veltrane/VeltraneRecorder/upload_queue.json").toStdString())
        << R"([{"id":"6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F6071","filename":"rig1-late.wav","projectId":"prj-beta",)"
           R"("projectName":"Beta Launch","createdAt":800000000,"state":"failed","progress":0,)"
           R"("lastError":"Internal Server Error","attempts":6},)"
           R"({"id":"0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9","filename":"rig1-done.wav","projectId":"prj-beta",)"
           R"("createdAt":800000001,"state":"completed","progress":1,"attempts":0}])";
    const std::string content(64 * 1024 + 3, 'x');
    std::ofstream(chunks.filePath("rig1-late.wav").toStdString(), std::ios::binary) << content;

    ASSERT_EQ(run({"retry-all"}).exitCode, 0);
    EXPECT_EQ(listedJobs(),
              (QStringList{"pending|0|rig1-late.wav|Beta Launch|", "completed|0|rig1-done.wav||"}));
    StandInServer server(StandInMode::program, serverFolder());
    signInAt(server);
    const CliRun upload = run({"upload", "--wait", "--dir", chunks.path()});
    ASSERT_EQ(upload.exitCode, 0) << upload.err.toStdString();
    EXPECT_TRUE(readFile(serverFolder() / "prj-beta" / "no-meeting" / "rig1-late.wav") == content);
    EXPECT_TRUE(listedJobs().value(0).startsWith("completed|"));
}

TEST_F(CliUpload, BadUsageExitsWithTwo) {
    const QList<std::pair<QStringList, QString>> mistakes = {
        {{"upload"}, "no chunk folder known"}, // nothing remembered yet and no --dir
        {{"upload", "--later"}, "unknown option: --later"},
        {{"upload", "--dir"}, "--dir needs a value"},
        {{"upload", "--dir", home.filePath("missing")}, "chunk folder does not exist"},
        {{"uploads", "all"}, "takes no arguments"},
        {{"retry-all", "now"}, "takes no arguments"},
        {{"record", "--dir", chunks.path(), "--device-id", "rig1", "--meeting", "mtg-alpha-kickoff"},
         "--meeting needs --project"}};
    for (const auto& [arguments, message] : mistakes) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains(message)) << result.err.toStdString();
    }
    environment.insert("VELTRANE_SERVER_URL", "ftp://127.0.0.1:1");
    const CliRun badURL = run({"upload", "--dir", chunks.path()});
    EXPECT_EQ(badURL.exitCode, 2) << badURL.err.toStdString();
    EXPECT_FALSE(badURL.err.isEmpty());
    // An empty queue lists nothing.
    EXPECT_TRUE(listedJobs().isEmpty());
}

} // namespace
} // namespace veltrane::test
