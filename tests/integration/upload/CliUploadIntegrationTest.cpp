// The upload commands of the real command line against the stand-in server program, also through
// the day's troubles: a private network namespace takes the network away, a read-only bind mount
// in a private mount namespace the data folder.
#include "support/CannedHttpServer.h"
#include "support/CliProcess.h"
#include "support/StandInServer.h"
#include "support/TonePlayer.h"

#include <QDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

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
        if (qEnvironmentVariableIsSet("VELTRANE_TEST_NAMESPACES")) {
            // A private network namespace starts with the loopback down.
            ASSERT_EQ(std::system("ip link set lo up"), 0);
        }
    }
    [[nodiscard]] QString dataFolder() const { return home.filePath("data/Veltrane/VeltraneRecorder"); }
    // A chunk file as the recorder names it, with a WAV header and `size` bytes in all.
    QString writeChunk(const QTemporaryDir& folder, int number, std::size_t size = 70'000) {
        const QString name = QString("rig1-2026-03-14-092653-chunk-%1.wav").arg(number, 3, 10, QChar('0'));
        std::string bytes("RIFF\x10\0\0\0WAVE", 12);
        for (std::size_t i = bytes.size(); i < size; ++i) {
            bytes.push_back(static_cast<char>((i * 7 + static_cast<std::size_t>(number)) % 251));
        }
        std::ofstream(folder.filePath(name).toStdString(), std::ios::binary) << bytes;
        return folder.filePath(name);
    }
    [[nodiscard]] QStringList enqueueArguments(const QStringList& files) const {
        return QStringList{"enqueue", "--project", "prj-alpha", "--meeting", "mtg-alpha-kickoff"} + files;
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
    // Starts `record` in the background, its output and errors merged.
    void startRecording(QProcess& record) const {
        record.setProcessEnvironment(environment);
        record.setProcessChannelMode(QProcess::MergedChannels);
        record.start(cliPath(), recordArguments());
    }
    // The queue as `uploads` lists it, one "state|attempts|file|context|error" row per job.
    QStringList listedJobs() {
        const CliRun list = run({"uploads"});
        EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
        return QString(list.out).replace('\t', '|').split('\n', Qt::SkipEmptyParts);
    }
    void expectDeliveredByteForByte(const QTemporaryDir& folder, std::size_t count = 3) {
        const fs::path delivered = serverFolder() / "prj-alpha" / "mtg-alpha-kickoff";
        const auto recorded = filesIn(folder);
        ASSERT_EQ(recorded.size(), count);
        ASSERT_EQ(std::distance(fs::directory_iterator(delivered), fs::directory_iterator()), count);
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
    expectDeliveredByteForByte(chunks);
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
        startRecording(record);
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
    expectDeliveredByteForByte(chunks);
    const QStringList delivered = listedJobs();
    ASSERT_EQ(delivered.size(), 3);
    for (const QString& job : delivered) {
        EXPECT_TRUE(job.startsWith("completed|")) << job.toStdString();
    }
    // The first chunk failed at least once while recording: its count and text are kept.
    EXPECT_FALSE(delivered[0].startsWith("completed|0|")) << delivered[0].toStdString();
    EXPECT_TRUE(delivered[0].endsWith("|Alpha Research › Kickoff|Server answered 500 Internal Server Error: "
                                      "Injected failure"))
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

TEST_F(CliUpload, ARefusedProjectLetsTheRecordingGoOnAndNamesTheEnqueueCommand) {
    StandInServer server(StandInMode::program, serverFolder());
    signInAt(server);
    Tone tone(440, 40, "uploadTone");
    sleepSeconds(1);
    QStringList arguments = recordArguments();
    arguments[arguments.indexOf("prj-alpha")] = "prj-old"; // archived
    const CliRun record = run(arguments);
    EXPECT_EQ(record.exitCode, 2) << record.err.toStdString();
    EXPECT_TRUE(record.err.contains("project prj-old is not an active project") &&
                record.err.contains("the recording goes on"))
        << record.err.toStdString();
    EXPECT_EQ(filesIn(chunks).size(), 3u);
    EXPECT_TRUE(record.err.contains("veltrane-cli enqueue --project prj-old --meeting mtg-alpha-kickoff '" +
                                    QString::fromStdString(filesIn(chunks).front().string())))
        << record.err.toStdString();
    EXPECT_TRUE(listedJobs().isEmpty());
}

TEST_F(CliUpload, ChunksQueuedOfflineWaitWithoutFailingAndArriveWhenTheNetworkIsBack) {
    if (!qEnvironmentVariableIsSet("VELTRANE_TEST_NAMESPACES")) {
        GTEST_SKIP() << "needs a private network namespace (run through ctest)";
    }
    StandInServer server(StandInMode::program, serverFolder());
    signInAt(server);
    ASSERT_EQ(std::system("ip link set lo down"), 0);
    QStringList files;
    for (int number = 1; number <= 3; ++number) {
        files << writeChunk(chunks, number);
    }
    std::ofstream(chunks.filePath("notes-chunk-001.wav").toStdString()) << "RIFF....WAVE";
    const CliRun foreign = run(enqueueArguments({chunks.filePath("notes-chunk-001.wav")}));
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_TRUE(foreign.err.contains("not a chunk file of VeltraneRecorder")) << foreign.err.toStdString();
    fs::remove(chunks.filePath("notes-chunk-001.wav").toStdString());
    ASSERT_EQ(run(enqueueArguments(files.mid(0, 1))).exitCode, 0);
    const CliRun again = run(enqueueArguments(files));
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.err.contains("Already queued, skipped: rig1-2026-03-14-092653-chunk-001.wav"));

    // Sent from another current folder: each job knows where its chunk is.
    QTemporaryDir otherFolder;
    environment.insert("VELTRANE_UPLOAD_PROBE_MAX_SECONDS", "1");
    QProcess upload;
    upload.setProcessEnvironment(environment);
    upload.setProcessChannelMode(QProcess::MergedChannels);
    upload.start(cliPath(), {"upload", "--wait", "--dir", otherFolder.path()});
    QString seen;
    ASSERT_TRUE(waitForOutput(upload, "uploads wait and are sent as soon as it answers", seen))
        << seen.toStdString();
    sleepSeconds(4); // one job at a time probes the server, the others wait
    const QString listed = listedJobs().join('\n');
    EXPECT_EQ(listed.count("pending|0|") + listed.count("uploading|0|"), 3) << listed.toStdString();
    EXPECT_GE(listed.count("|Server unreachable since "), 2) << listed.toStdString();
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    ASSERT_TRUE(upload.waitForFinished(60'000));
    seen += upload.readAll();
    EXPECT_EQ(upload.exitCode(), 0) << seen.toStdString();
    EXPECT_EQ(seen.count("✅ Delivered "), 3) << seen.toStdString();
    expectDeliveredByteForByte(chunks);
    for (const QString& job : listedJobs()) {
        EXPECT_TRUE(job.startsWith("completed|0|")) << job.toStdString();
    }
}

TEST_F(CliUpload, ReadOnlyDataFolderFailsWithItsCauseAndTheChunksAreQueuedOnceItIsWritable) {
    if (!qEnvironmentVariableIsSet("VELTRANE_TEST_NAMESPACES") || ::geteuid() != 0) {
        GTEST_SKIP() << "needs root in a private mount namespace (run through ctest)";
    }
    StandInServer server(StandInMode::program, serverFolder());
    signInAt(server);
    ASSERT_TRUE(QDir().mkpath(dataFolder()));
    const QString readOnly = "mount --bind '" + dataFolder() + "' '" + dataFolder() +
                             "' && mount -o remount,bind,ro '" + dataFolder() + "'";
    ASSERT_EQ(std::system(readOnly.toUtf8().constData()), 0);
    const CliRun refused = run({"upload", "--dir", chunks.path()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("cannot be written (Read-only file system)"))
        << refused.err.toStdString();
    EXPECT_FALSE(refused.err.contains("another VeltraneRecorder process"));
    ASSERT_EQ(std::system(("umount '" + dataFolder() + "'").toUtf8().constData()), 0);

    Tone tone(440, 40, "uploadTone");
    sleepSeconds(1);
    QProcess record;
    startRecording(record);
    QString seen;
    ASSERT_TRUE(waitForOutput(record, "=== Start Recording ===", seen)) << seen.toStdString();
    ASSERT_EQ(std::system(readOnly.toUtf8().constData()), 0); // before the first chunk ends
    ASSERT_TRUE(record.waitForFinished(60'000));
    seen += record.readAll();
    std::system(("umount '" + dataFolder() + "'").toUtf8().constData());
    EXPECT_EQ(record.exitCode(), 1) << seen.toStdString();
    EXPECT_TRUE(seen.contains("❌ The upload queue could not be saved: ") &&
                seen.contains("Read-only file system"))
        << seen.toStdString();
    EXPECT_FALSE(seen.contains("stay queued"));
    EXPECT_TRUE(seen.contains("veltrane-cli enqueue --project prj-alpha --meeting mtg-alpha-kickoff"));

    QStringList files;
    for (const fs::path& chunk : filesIn(chunks)) {
        files << QString::fromStdString(chunk.string());
    }
    ASSERT_EQ(files.size(), 3);
    ASSERT_EQ(run(enqueueArguments(files)).exitCode, 0);
    const CliRun upload = run({"upload", "--wait"});
    EXPECT_EQ(upload.exitCode, 0) << upload.err.toStdString();
    EXPECT_EQ(upload.err.count("✅ Delivered "), 3) << upload.err.toStdString();
    expectDeliveredByteForByte(chunks);
}

TEST_F(CliUpload, ADamagedQueueFileKeepsItsGoodJobsAndListingChangesNothing) {
    ASSERT_TRUE(QDir().mkpath(dataFolder()));
    const QString good =
        R"({"id":"%1","filename":"%2","projectId":"prj-alpha","meetingId":"mtg-alpha-kickoff",)"
        R"("createdAt":%3,"state":"pending","progress":0,"attempts":0})";
    const QString names[] = {QFileInfo(writeChunk(chunks, 1)).fileName(),
                             QFileInfo(writeChunk(chunks, 2)).fileName()};
    const std::string damaged = QString("[%1,%2,%3]")
                                    .arg(good.arg("6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F6071", names[0], "1"),
                                         good.arg("6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F6072", "rig1-x.wav", "2")
                                             .replace("pending", "paused"),
                                         good.arg("6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F6073", names[1], "3"))
                                    .toStdString();
    const fs::path queueFile = dataFolder().toStdString() + "/upload_queue.json";
    std::ofstream(queueFile) << damaged;
    const CliRun list = run({"uploads"});
    EXPECT_EQ(list.out.count('\n'), 2);
    EXPECT_EQ(list.err.count("⚠️"), 1) << list.err.toStdString();
    EXPECT_EQ(readFile(queueFile), damaged) << "listing changes nothing";

    StandInServer server(StandInMode::program, serverFolder());
    signInAt(server);
    const CliRun upload = run({"upload", "--wait", "--dir", chunks.path()});
    EXPECT_EQ(upload.exitCode, 0) << upload.err.toStdString();
    EXPECT_EQ(upload.err.count("⚠️ Upload queue file was damaged: kept 2 job(s), set aside 1"), 1)
        << upload.err.toStdString();
    expectDeliveredByteForByte(chunks, 2);
    const auto kept = std::ranges::count_if(
        fs::directory_iterator(dataFolder().toStdString()), [&](const fs::directory_entry& entry) {
            return entry.is_regular_file() && readFile(entry.path()) == damaged;
        });
    EXPECT_EQ(kept, 1) << "the original is set aside";
}

TEST_F(CliUpload, AnswersAreToldInAUsersWordsAndAFailedJobMakesUploadExitWithOne) {
    // Jobs left with one attempt each, answered badly by a stub server.
    ASSERT_TRUE(QDir().mkpath(dataFolder()));
    QString jobs;
    for (int number = 1; number <= 3; ++number) {
        jobs += QString(R"(%1{"id":"6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F607%2","filename":"%3","projectId":"p",)"
                        R"("createdAt":%2,"state":"pending","progress":0,"attempts":5})")
                    .arg(number == 1 ? "" : ",")
                    .arg(number)
                    .arg(QFileInfo(writeChunk(chunks, number, 10'000 * number)).fileName());
    }
    std::ofstream(dataFolder().toStdString() + "/upload_queue.json") << "[" << jobs.toStdString() << "]";
    test::CannedHttpServer stub([](const test::RecordedRequest& request, httplib::Response& response) {
        // Told apart by size: chunk N has N * 10000 bytes.
        const auto number = std::stoul(request.header("Content-Length")) / 10'000;
        if (number == 1) {
            response.status = 413;
            response.set_content("<html><h1>Too large</h1></html>", "text/html");
        } else if (number == 2) {
            response.status = 302;
            response.set_header("Location", "https://elsewhere.test/upload");
        } else {
            response.status = 500;
            response.set_content(std::string(10 * 1024 * 1024, 'x'), "text/plain");
        }
    });
    environment.insert("VELTRANE_SERVER_URL", stub.baseURL());
    const CliRun upload = run({"upload", "--dir", chunks.path()});
    EXPECT_EQ(upload.exitCode, 1) << upload.err.toStdString();
    EXPECT_EQ(upload.err.count("failed after 6 attempts"), 3) << upload.err.toStdString();
    const QStringList listed = listedJobs();
    ASSERT_EQ(listed.size(), 3);
    EXPECT_TRUE(listed[0].endsWith("|Server answered 413 Payload Too Large")) << listed[0].toStdString();
    EXPECT_TRUE(listed[1].endsWith("|Server answered 302 Found, pointing to https://elsewhere.test/upload; "
                                   "redirects are not followed"))
        << listed[1].toStdString();
    EXPECT_TRUE(listed[2].contains("|Server answered 500 Internal Server Error: xxx"))
        << listed[2].toStdString();
    EXPECT_LT(listed[2].size(), 400);
    EXPECT_LT(fs::file_size(dataFolder().toStdString() + "/upload_queue.json"), 4096u);
}

TEST_F(CliUpload, AnExpiredSessionPausesTheQueueWithoutUsingAttemptsUntilTheUserSignsIn) {
    const QString chunk = writeChunk(chunks, 1);
    {
        StandInServer forgetful(StandInMode::program, serverFolder());
        signInAt(forgetful);
        ASSERT_EQ(run(enqueueArguments({chunk})).exitCode, 0);
    }
    StandInServer restarted(StandInMode::program, serverFolder());
    environment.insert("VELTRANE_SERVER_URL", QString::fromStdString(restarted.baseURL()));
    const CliRun paused = run({"upload", "--wait", "--dir", chunks.path()});
    EXPECT_EQ(paused.exitCode, 1);
    EXPECT_TRUE(paused.err.contains("Sign in again (veltrane-cli login)")) << paused.err.toStdString();
    const QStringList waiting = listedJobs();
    ASSERT_EQ(waiting.size(), 1);
    EXPECT_TRUE(waiting[0].startsWith("pending|0|") && waiting[0].endsWith("|Waiting for sign-in"))
        << waiting[0].toStdString();
    signInAt(restarted);
    const CliRun upload = run({"upload", "--wait", "--dir", chunks.path()});
    EXPECT_EQ(upload.exitCode, 0) << upload.err.toStdString();
    expectDeliveredByteForByte(chunks, 1);
}

} // namespace
} // namespace veltrane::test
