// The upload commands of the real command line against a spawned local stand-in server: chunks
// recorded with --project reach the server byte for byte, failed deliveries stay queued until a
// later `upload --wait`, failed jobs come back with `retry-all`, and misuse exits with 2.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

constexpr int kProcessTimeLimitMs = 60000;

QString fromEnvironment(const char* name) {
    return QString::fromLocal8Bit(std::getenv(name));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Reads `process`'s standard output (or error) until a line matches; absent on time-out or exit.
std::optional<QRegularExpressionMatch> awaitLine(QProcess& process, QProcess::ProcessChannel channel,
                                                 const QRegularExpression& pattern, QString& seen) {
    process.setReadChannel(channel);
    for (int waited = 0; waited < 600; ++waited) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine());
            seen += line;
            if (const auto match = pattern.match(line); match.hasMatch()) {
                return match;
            }
        }
        if (process.state() == QProcess::NotRunning) {
            return std::nullopt;
        }
        process.waitForReadyRead(100);
    }
    return std::nullopt;
}

// A veltrane-devserver process on 127.0.0.1 for as long as the object lives.
class DevServerProcess {
public:
    DevServerProcess(const QString& dataDir, const QStringList& extra) {
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(fromEnvironment("VELTRANE_DEVSERVER"),
                       QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                                   dataDir, QStringLiteral("--quiet")} +
                           extra);
        QString seen;
        const auto match = awaitLine(
            process_, QProcess::StandardOutput,
            QRegularExpression(QStringLiteral("^Listening on (http://127\\.0\\.0\\.1:\\d+)")), seen);
        if (match) {
            url_ = match->captured(1);
        }
    }
    ~DevServerProcess() { stop(); }

    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(10000)) {
                process_.kill();
                process_.waitForFinished();
            }
        }
    }
    [[nodiscard]] const QString& url() const { return url_; }

private:
    QProcess process_;
    QString url_;
};

// A tone on the default output for as long as the object lives.
class Tone {
public:
    explicit Tone(int seconds) {
        process_.start(QStringLiteral("bash"),
                       {fromEnvironment("VELTRANE_SCRIPTS") + QStringLiteral("/play-tone.sh"),
                        QStringLiteral("440"), QString::number(seconds), QStringLiteral("uploadTone")});
        process_.waitForStarted();
    }
    ~Tone() {
        process_.kill();
        process_.waitForFinished(5000);
    }

private:
    QProcess process_;
};

class CliUpload : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(fromEnvironment("VELTRANE_CLI").isEmpty());
        ASSERT_FALSE(fromEnvironment("VELTRANE_DEVSERVER").isEmpty());
        ASSERT_TRUE(temp.isValid());
        for (const char* folder : {"home", "data", "config", "cache", "chunks", "server"}) {
            ASSERT_TRUE(QDir(temp.path()).mkpath(QString::fromLatin1(folder)));
        }
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), path("home"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path("data"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), path("cache"));
        // No session bus: the token goes to the file store inside the private data folder.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + path("no-bus"));
    }

    [[nodiscard]] QString path(const char* name) const { return temp.path() + QLatin1Char('/') + name; }
    [[nodiscard]] fs::path chunkFolder() const { return fs::path(path("chunks").toStdString()); }
    [[nodiscard]] fs::path serverFolder() const { return fs::path(path("server").toStdString()); }

    void pointAt(const DevServerProcess& server) {
        environment.insert(QStringLiteral("VELTRANE_SERVER_URL"), server.url());
    }

    CliRun run(const QStringList& arguments, const QByteArray& input = {}) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(fromEnvironment("VELTRANE_CLI"), arguments);
        process.write(input);
        process.closeWriteChannel();
        CliRun result;
        if (!process.waitForFinished(kProcessTimeLimitMs)) {
            process.kill();
            process.waitForFinished();
            result.err = QStringLiteral("timed out");
            return result;
        }
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    void signIn() {
        const CliRun login =
            run({QStringLiteral("login"), QStringLiteral("--email"), QStringLiteral("demo@veltrane.test")},
                "demo-password\n");
        ASSERT_EQ(login.exitCode, 0) << login.err.toStdString();
    }

    [[nodiscard]] QStringList recordArguments() const {
        return {QStringLiteral("record"),
                QStringLiteral("--dir"),
                path("chunks"),
                QStringLiteral("--device-id"),
                QStringLiteral("rig1"),
                QStringLiteral("--format"),
                QStringLiteral("wav"),
                QStringLiteral("--seconds"),
                QStringLiteral("12"),
                QStringLiteral("--chunk-seconds"),
                QStringLiteral("5"),
                QStringLiteral("--project"),
                QStringLiteral("prj-alpha"),
                QStringLiteral("--meeting"),
                QStringLiteral("mtg-alpha-kickoff")};
    }

    // The queue as `uploads` lists it, one row of fields per job.
    std::vector<QStringList> listedJobs() {
        const CliRun list = run({QStringLiteral("uploads")});
        EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
        std::vector<QStringList> rows;
        for (const QString& line : list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            rows.push_back(line.split(QLatin1Char('\t')));
        }
        return rows;
    }

    void expectDeliveredByteForByte(const std::vector<fs::path>& chunks) {
        const fs::path delivered = serverFolder() / "prj-alpha" / "mtg-alpha-kickoff";
        ASSERT_EQ(filesIn(delivered).size(), chunks.size());
        for (const fs::path& chunk : chunks) {
            const std::string local = readFile(chunk);
            EXPECT_FALSE(local.empty()) << chunk;
            EXPECT_TRUE(readFile(delivered / chunk.filename()) == local) << chunk.filename();
        }
    }

    QTemporaryDir temp;
    QProcessEnvironment environment;
};

TEST_F(CliUpload, RecordedChunksReachTheServerByteForByte) {
    DevServerProcess server(path("server"), {});
    ASSERT_FALSE(server.url().isEmpty());
    pointAt(server);
    signIn();
    Tone tone(40);
    QThread::msleep(1000);

    const CliRun record = run(recordArguments());
    ASSERT_EQ(record.exitCode, 0) << record.err.toStdString() << record.out.toStdString();
    EXPECT_TRUE(record.err.contains(QStringLiteral("Uploads: 3 completed, 0 pending, 0 failed")))
        << record.err.toStdString();

    const auto chunks = filesIn(chunkFolder());
    ASSERT_EQ(chunks.size(), 3u);
    expectDeliveredByteForByte(chunks);

    const auto jobs = listedJobs();
    ASSERT_EQ(jobs.size(), 3u);
    for (const QStringList& job : jobs) {
        ASSERT_EQ(job.size(), 5) << job.join('|').toStdString();
        EXPECT_EQ(job[0], QStringLiteral("completed"));
        EXPECT_EQ(job[1], QStringLiteral("0"));
        EXPECT_EQ(job[3], QStringLiteral("Alpha Research › Kickoff")); // names looked up on the server
        EXPECT_EQ(job[4], QString());
    }
}

TEST_F(CliUpload, FailedDeliveriesStayQueuedUntilUploadWait) {
    {
        DevServerProcess failing(path("server"), {QStringLiteral("--fail-uploads"), QStringLiteral("100")});
        ASSERT_FALSE(failing.url().isEmpty());
        pointAt(failing);
        signIn();
        Tone tone(40);
        QThread::msleep(1000);

        QProcess record;
        record.setProcessEnvironment(environment);
        record.start(fromEnvironment("VELTRANE_CLI"), recordArguments());
        QString seen;
        ASSERT_TRUE(awaitLine(record, QProcess::StandardError,
                              QRegularExpression(QStringLiteral("^Recording stopped")), seen))
            << seen.toStdString();
        // While it owns the queue, no other process may rewrite it.
        const CliRun concurrent = run({QStringLiteral("retry-all")});
        EXPECT_EQ(concurrent.exitCode, 1);
        EXPECT_TRUE(concurrent.err.contains(QStringLiteral("in use by another VeltraneRecorder process")))
            << concurrent.err.toStdString();
        // The uploads keep being retried; an interruption ends the wait and keeps the queue.
        ::kill(static_cast<pid_t>(record.processId()), SIGTERM);
        ASSERT_TRUE(record.waitForFinished(kProcessTimeLimitMs));
        EXPECT_EQ(record.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(record.exitCode(), 0) << record.readAllStandardError().toStdString();
    }
    EXPECT_TRUE(filesIn(serverFolder() / "prj-alpha" / "mtg-alpha-kickoff").empty());
    const auto queued = listedJobs();
    ASSERT_EQ(queued.size(), 3u);
    for (const QStringList& job : queued) {
        EXPECT_TRUE(job[0] == QStringLiteral("pending") || job[0] == QStringLiteral("uploading"))
            << job.join('|').toStdString();
    }

    // A healthy server on the same data folder; the chunk folder is the remembered one.
    DevServerProcess healthy(path("server"), {});
    ASSERT_FALSE(healthy.url().isEmpty());
    pointAt(healthy);
    signIn(); // the restarted server has forgotten its sessions
    const CliRun upload = run({QStringLiteral("upload"), QStringLiteral("--wait")});
    ASSERT_EQ(upload.exitCode, 0) << upload.err.toStdString();

    const auto chunks = filesIn(chunkFolder());
    ASSERT_EQ(chunks.size(), 3u);
    expectDeliveredByteForByte(chunks);
    const auto delivered = listedJobs();
    ASSERT_EQ(delivered.size(), 3u);
    for (const QStringList& job : delivered) {
        ASSERT_EQ(job.size(), 5) << job.join('|').toStdString();
        EXPECT_EQ(job[0], QStringLiteral("completed"));
        EXPECT_EQ(job[3], QStringLiteral("Alpha Research › Kickoff"));
    }
    // The first chunk failed at least once while recording: its count and text are kept.
    EXPECT_NE(delivered[0][1], QStringLiteral("0"));
    EXPECT_EQ(delivered[0][4], QStringLiteral("Injected failure"));
}

TEST_F(CliUpload, RetryAllBringsBackFailedJobs) {
    // A queue left by an earlier run: one job failed six times, one already delivered.
    const QString queueFolder = path("data") + QStringLiteral("/Veltrane/VeltraneRecorder");
    ASSERT_TRUE(QDir().mkpath(queueFolder));
    QFile queue(queueFolder + QStringLiteral("/upload_queue.json"));
    ASSERT_TRUE(queue.open(QIODevice::WriteOnly));
    queue.write(
        R"([{"id":"6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F6071","filename":"rig1-late.wav","projectId":"prj-beta",)"
        R"("projectName":"Beta Launch","createdAt":800000000,"state":"failed","progress":0,)"
        R"("lastError":"Internal Server Error","attempts":6},)"
        R"({"id":"0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9","filename":"rig1-done.wav","projectId":"prj-beta",)"
        R"("createdAt":800000001,"state":"completed","progress":1,"attempts":0}])");
    queue.close();
    const std::string content(64 * 1024 + 3, 'x');
    std::ofstream(chunkFolder() / "rig1-late.wav", std::ios::binary) << content;

    const CliRun retry = run({QStringLiteral("retry-all")});
    ASSERT_EQ(retry.exitCode, 0) << retry.err.toStdString();
    auto jobs = listedJobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].join('|'), QStringLiteral("pending|0|rig1-late.wav|Beta Launch|"));
    EXPECT_EQ(jobs[1].join('|'), QStringLiteral("completed|0|rig1-done.wav||"));

    DevServerProcess server(path("server"), {});
    ASSERT_FALSE(server.url().isEmpty());
    pointAt(server);
    signIn();
    const CliRun upload =
        run({QStringLiteral("upload"), QStringLiteral("--wait"), QStringLiteral("--dir"), path("chunks")});
    ASSERT_EQ(upload.exitCode, 0) << upload.err.toStdString();
    EXPECT_TRUE(readFile(serverFolder() / "prj-beta" / "no-meeting" / "rig1-late.wav") == content);
    jobs = listedJobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0][0], QStringLiteral("completed"));
}

TEST_F(CliUpload, BadUsageExitsWithTwo) {
    const auto expectUsage = [&](const QStringList& arguments, const QString& message) {
        const CliRun result = run(arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains(message)) << result.err.toStdString();
    };
    // Nothing remembered yet and no --dir.
    expectUsage({QStringLiteral("upload")}, QStringLiteral("no chunk folder known"));
    expectUsage({QStringLiteral("upload"), QStringLiteral("--later")},
                QStringLiteral("unknown option: --later"));
    expectUsage({QStringLiteral("upload"), QStringLiteral("--dir")}, QStringLiteral("--dir needs a value"));
    expectUsage({QStringLiteral("upload"), QStringLiteral("--dir"), path("missing")},
                QStringLiteral("chunk folder does not exist"));
    expectUsage({QStringLiteral("uploads"), QStringLiteral("all")}, QStringLiteral("takes no arguments"));
    expectUsage({QStringLiteral("retry-all"), QStringLiteral("now")}, QStringLiteral("takes no arguments"));
    expectUsage({QStringLiteral("record"), QStringLiteral("--dir"), path("chunks"),
                 QStringLiteral("--device-id"), QStringLiteral("rig1"), QStringLiteral("--meeting"),
                 QStringLiteral("mtg-alpha-kickoff")},
                QStringLiteral("--meeting needs --project"));
    environment.insert(QStringLiteral("VELTRANE_SERVER_URL"), QStringLiteral("ftp://127.0.0.1:1"));
    const CliRun badUrl = run({QStringLiteral("upload"), QStringLiteral("--dir"), path("chunks")});
    EXPECT_EQ(badUrl.exitCode, 2) << badUrl.err.toStdString();
    EXPECT_FALSE(badUrl.err.isEmpty());
    // An empty queue lists nothing and uploads nothing.
    environment.remove(QStringLiteral("VELTRANE_SERVER_URL"));
    const CliRun list = run({QStringLiteral("uploads")});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_TRUE(list.out.isEmpty()) << list.out.toStdString();
}

} // namespace
} // namespace veltrane::test
