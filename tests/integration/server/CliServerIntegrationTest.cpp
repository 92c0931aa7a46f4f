// Drives the real veltrane-cli against the real veltrane-devserver. Each test has its own server
// on a free port and its own home, data and config folders. VELTRANE_TEST_KEYCHAIN tells where
// the session token must end up: "file" (no session bus, so the file store) or "secret-service"
// (run inside scripts/with-secret-service.sh).
#include "platform/keychain/impl/SecretServiceKeychain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kService = "co.brimfold.VeltraneRecorder";
constexpr int kProcessTimeoutMs = 20000;
const QString kCredentialsMessage = QStringLiteral(
    "The provided credentials are invalid, check for spelling mistakes in your password or username, "
    "email address, or phone number.");

QString environment(const char* name) {
    return QString::fromLocal8Bit(std::getenv(name));
}

bool usesSecretService() {
    return environment("VELTRANE_TEST_KEYCHAIN") == QStringLiteral("secret-service");
}

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(environment("VELTRANE_CLI").isEmpty());
        ASSERT_FALSE(environment("VELTRANE_DEVSERVER").isEmpty());
        ASSERT_TRUE(root.isValid());
        for (const char* folder : {"home", "data", "config", "uploads"}) {
            ASSERT_TRUE(QDir(root.path()).mkpath(QString::fromLatin1(folder)));
        }
        if (usesSecretService()) {
            // The private keyring lives as long as the whole test program: start each test empty.
            (void)secretService.deleteItem(kService, "accessToken");
        }
        server.setProcessChannelMode(QProcess::SeparateChannels);
        server.start(environment("VELTRANE_DEVSERVER"),
                     {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--data"),
                      root.filePath(QStringLiteral("uploads")), QStringLiteral("--quiet")});
        ASSERT_TRUE(server.waitForStarted(kProcessTimeoutMs));
        const QRegularExpression listening(QStringLiteral("Listening on (http://127\\.0\\.0\\.1:\\d+)"));
        QByteArray output;
        QElapsedTimer clock;
        clock.start();
        while (baseUrl.isEmpty() && clock.elapsed() < kProcessTimeoutMs && server.waitForReadyRead(1000)) {
            output += server.readAllStandardOutput();
            if (const auto match = listening.match(QString::fromUtf8(output)); match.hasMatch()) {
                baseUrl = match.captured(1);
            }
        }
        ASSERT_FALSE(baseUrl.isEmpty())
            << output.toStdString() << server.readAllStandardError().toStdString();
    }
    void TearDown() override {
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(kProcessTimeoutMs)) {
                server.kill();
                (void)server.waitForFinished(kProcessTimeoutMs);
            }
        }
        if (usesSecretService()) {
            (void)secretService.deleteItem(kService, "accessToken");
        }
    }

    [[nodiscard]] CliRun cli(const QStringList& arguments, const QByteArray& input = {},
                             const QString& serverUrl = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("VELTRANE_SERVER_URL"), serverUrl.isEmpty() ? baseUrl : serverUrl);
        if (!usesSecretService()) {
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(environment("VELTRANE_CLI"), arguments);
        CliRun run;
        if (!process.waitForStarted(kProcessTimeoutMs)) {
            run.err = QStringLiteral("did not start");
            return run;
        }
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(kProcessTimeoutMs)) {
            process.kill();
            (void)process.waitForFinished(kProcessTimeoutMs);
            run.err = QStringLiteral("timed out");
            return run;
        }
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    [[nodiscard]] CliRun signIn(const QByteArray& password = "demo-password\n") {
        return cli({QStringLiteral("login"), QStringLiteral("--email"), QStringLiteral("demo@veltrane.test")},
                   password);
    }

    [[nodiscard]] fs::path credentialFolder() const {
        return fs::path(root.filePath(QStringLiteral("data")).toStdString()) / "Veltrane" /
               "VeltraneRecorder" / "credentials";
    }
    [[nodiscard]] fs::path tokenFile() const {
        return credentialFolder() / (std::string(kService) + "+accessToken");
    }
    // The token as the keychain under test holds it.
    [[nodiscard]] std::optional<std::string> storedToken() {
        if (usesSecretService()) {
            return secretService.copyMatching(kService, "accessToken").data;
        }
        std::ifstream file(tokenFile(), std::ios::binary);
        if (!file) {
            return std::nullopt;
        }
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    QTemporaryDir root;
    QProcess server;
    QString baseUrl;
    SecretServiceKeychain secretService;
};

QStringList linesOf(const QString& text) {
    return text.split('\n', Qt::SkipEmptyParts);
}

TEST_F(CliServer, SignInThenListAndCreateMeetings) {
    const CliRun login = signIn();
    ASSERT_EQ(login.exitCode, 0) << login.err.toStdString() << login.out.toStdString();
    EXPECT_TRUE(login.out.contains(QStringLiteral("Signed in as demo@veltrane.test\n")));

    const auto prefix = QRegularExpression(QStringLiteral("🔐 login: got session token \\((.{8})…\\)"))
                            .match(login.out)
                            .captured(1)
                            .toStdString();
    const std::optional<std::string> token = storedToken();
    ASSERT_TRUE(token) << login.out.toStdString();
    EXPECT_TRUE(!prefix.empty() && token->starts_with(prefix)) << prefix;
    const QString warning =
        QStringLiteral("⚠️ No Secret Service available — the session token is stored "
                       "unencrypted in ");
    if (usesSecretService()) {
        EXPECT_FALSE(login.out.contains(QStringLiteral("unencrypted")));
        EXPECT_FALSE(fs::exists(credentialFolder()));
    } else {
        EXPECT_EQ(login.out.count(warning), 1) << login.out.toStdString();
        EXPECT_EQ(login.out.count(QStringLiteral("unencrypted")), 1);
        EXPECT_TRUE(login.out.contains(warning + QString::fromStdString(credentialFolder().string())));
        EXPECT_EQ(fs::status(tokenFile()).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::status(credentialFolder()).permissions() & fs::perms::all, fs::perms::owner_all);
    }

    const CliRun whoami = cli({QStringLiteral("whoami")});
    ASSERT_EQ(whoami.exitCode, 0) << whoami.err.toStdString();
    EXPECT_EQ(linesOf(whoami.out), QStringList{QStringLiteral("usr-demo\tdemo@veltrane.test\tDemo User")});

    const CliRun projects = cli({QStringLiteral("projects")});
    ASSERT_EQ(projects.exitCode, 0) << projects.err.toStdString();
    EXPECT_EQ(linesOf(projects.out), (QStringList{QStringLiteral("prj-alpha\tAlpha Research\tactive"),
                                                  QStringLiteral("prj-beta\tBeta Launch\tactive")}));

    const CliRun alpha = cli({QStringLiteral("meetings"), QStringLiteral("prj-alpha")});
    ASSERT_EQ(alpha.exitCode, 0) << alpha.err.toStdString();
    EXPECT_EQ(linesOf(alpha.out),
              (QStringList{QStringLiteral("mtg-alpha-kickoff\tKickoff\t2026-12-01\t"),
                           QStringLiteral("mtg-alpha-weekly\tWeekly sync\t2026-12-08\t")}));

    const CliRun created =
        cli({QStringLiteral("create-meeting"), QStringLiteral("prj-beta"), QStringLiteral("--name"),
             QStringLiteral("Retro"), QStringLiteral("--date"), QStringLiteral("2026-12-10")});
    ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    const QStringList createdLines = linesOf(created.out);
    ASSERT_EQ(createdLines.size(), 1) << created.out.toStdString();
    EXPECT_TRUE(createdLines[0].endsWith(QStringLiteral("\tRetro\t2026-12-10\t")))
        << created.out.toStdString();

    const CliRun beta = cli({QStringLiteral("meetings"), QStringLiteral("prj-beta")});
    ASSERT_EQ(beta.exitCode, 0) << beta.err.toStdString();
    EXPECT_EQ(linesOf(beta.out), createdLines);
    // Only the sign-in stores the token, so only it warns.
    for (const CliRun* run : {&whoami, &projects, &alpha, &created, &beta}) {
        EXPECT_FALSE(run->out.contains(QStringLiteral("unencrypted")));
    }
}

TEST_F(CliServer, WrongPasswordShowsTheServersMessageAndStoresNothing) {
    const CliRun login = signIn("not-the-password\n");
    EXPECT_EQ(login.exitCode, 1);
    EXPECT_EQ(linesOf(login.err), QStringList{kCredentialsMessage}) << login.err.toStdString();
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(fs::exists(tokenFile()));

    const CliRun empty = signIn("\n");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(linesOf(empty.err), QStringList{QStringLiteral("Enter your email and password.")});
}

TEST_F(CliServer, CommandsNeedASignIn) {
    const QList<QStringList> commands = {{QStringLiteral("whoami")},
                                         {QStringLiteral("projects")},
                                         {QStringLiteral("meetings"), QStringLiteral("prj-alpha")},
                                         {QStringLiteral("create-meeting"), QStringLiteral("prj-beta"),
                                          QStringLiteral("--name"), QStringLiteral("X"),
                                          QStringLiteral("--date"), QStringLiteral("2026-12-10")}};
    for (const QStringList& arguments : commands) {
        const CliRun run = cli(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments.join(' ').toStdString() << run.out.toStdString();
        EXPECT_EQ(linesOf(run.err), QStringList{QStringLiteral("Authentication required")})
            << arguments.join(' ').toStdString();
    }
    // The meeting was not created behind the refusal.
    ASSERT_EQ(signIn().exitCode, 0);
    const CliRun beta = cli({QStringLiteral("meetings"), QStringLiteral("prj-beta")});
    EXPECT_EQ(beta.exitCode, 0);
    EXPECT_TRUE(beta.out.isEmpty()) << beta.out.toStdString();
}

TEST_F(CliServer, BadUsageExitsWithTwo) {
    // Signed in, so that a request sent despite a mistake would go through and show.
    ASSERT_EQ(signIn().exitCode, 0);
    // Each mistake, and the start of the one line that explains it.
    const QList<std::pair<QStringList, QString>> mistakes = {
        {{QStringLiteral("login")}, QStringLiteral("usage: veltrane-cli login --email E")},
        {{QStringLiteral("login"), QStringLiteral("--email")}, QStringLiteral("--email needs a value")},
        {{QStringLiteral("whoami"), QStringLiteral("extra")}, QStringLiteral("usage: veltrane-cli whoami")},
        {{QStringLiteral("meetings")}, QStringLiteral("usage: veltrane-cli meetings <project-id>")},
        {{QStringLiteral("create-meeting"), QStringLiteral("prj-beta"), QStringLiteral("--name"),
          QStringLiteral("X")},
         QStringLiteral("usage: veltrane-cli create-meeting <project-id>")},
        {{QStringLiteral("create-meeting"), QStringLiteral("--name"), QStringLiteral("X"),
          QStringLiteral("--date"), QStringLiteral("2026-12-10")},
         QStringLiteral("usage: veltrane-cli create-meeting <project-id>")},
        {{QStringLiteral("create-meeting"), QStringLiteral("prj-beta"), QStringLiteral("--name"),
          QStringLiteral("X"), QStringLiteral("--date"), QStringLiteral("2026-02-30")},
         QStringLiteral("--date must be a date as yyyy-MM-dd, not \"2026-02-30\"")}};
    for (const auto& [arguments, message] : mistakes) {
        const CliRun run = cli(arguments, "demo-password\n");
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString() << run.err.toStdString();
        const QStringList lines = linesOf(run.err);
        EXPECT_TRUE(lines.size() == 1 && lines[0].startsWith(message)) << run.err.toStdString();
    }
    const CliRun badUrl = cli({QStringLiteral("projects")}, {}, QStringLiteral("not a url"));
    EXPECT_EQ(badUrl.exitCode, 2) << badUrl.err.toStdString();
    EXPECT_EQ(linesOf(badUrl.err), QStringList{QStringLiteral("Not a usable server base URL: not a url")});
    // No meeting was created by the refused commands.
    const CliRun beta = cli({QStringLiteral("meetings"), QStringLiteral("prj-beta")});
    EXPECT_EQ(beta.exitCode, 0);
    EXPECT_TRUE(beta.out.isEmpty()) << beta.out.toStdString();
}

} // namespace
} // namespace veltrane::test
