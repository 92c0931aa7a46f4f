// Drives the real veltrane-cli against the real veltrane-devserver. Each test has its own server
// on a free port and its own home, data and config folders. VELTRANE_TEST_KEYCHAIN tells where
// the session token must end up: "file" (no session bus, so the file store) or "secret-service"
// (run inside scripts/with-secret-service.sh).
#include "platform/keychain/impl/SecretServiceKeychain.h"
#include "support/CliProcess.h"
#include "support/StandInServer.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kService = "co.brimfold.VeltraneRecorder";

bool usesSecretService() {
    const char* keychain = std::getenv("VELTRANE_TEST_KEYCHAIN");
    return keychain != nullptr && std::string_view(keychain) == "secret-service";
}

QStringList linesOf(const QString& text) {
    return text.split('\n', Qt::SkipEmptyParts);
}

class CliServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.isRunning());
        for (const char* folder : {"home", "data", "config"}) {
            ASSERT_TRUE(QDir(root.path()).mkpath(folder));
        }
        environment.insert("HOME", root.filePath("home"));
        environment.insert("XDG_DATA_HOME", root.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", root.filePath("config"));
        environment.insert("VELTRANE_SERVER_URL", QString::fromStdString(server.baseURL()));
        if (!usesSecretService()) {
            environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        }
        // The private keyring lives as long as the whole test program: start each test empty.
        (void)secretService.remove(kService, "accessToken").status;
    }
    void TearDown() override { (void)secretService.remove(kService, "accessToken").status; }

    CliRun cli(const QStringList& arguments, const QByteArray& input = {}) {
        return runCli(arguments, 20'000, environment, input);
    }
    CliRun signIn(const QByteArray& password = "demo-password\n") {
        return cli({"login", "--email", "demo@veltrane.test"}, password);
    }
    [[nodiscard]] fs::path credentialFolder() const {
        return fs::path(root.filePath("data").toStdString()) / "Veltrane" / "VeltraneRecorder" /
               "credentials";
    }
    [[nodiscard]] fs::path tokenFile() const {
        return credentialFolder() / (std::string(kService) + "+accessToken");
    }
    // The token as the keychain under test holds it.
    [[nodiscard]] std::optional<std::string> storedToken() {
        if (usesSecretService()) {
            return secretService.lookUp(kService, "accessToken").data;
        }
        std::ifstream file(tokenFile(), std::ios::binary);
        return file ? std::optional<std::string>(std::string(std::istreambuf_iterator<char>(file), {}))
                    : std::nullopt;
    }

    QTemporaryDir root;
    StandInServer server{StandInMode::program, fs::path(root.filePath("uploads").toStdString())};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    SecretServiceKeychain secretService;
};

TEST_F(CliServer, SignInThenListAndCreateMeetings) {
    const CliRun login = signIn();
    ASSERT_EQ(login.exitCode, 0) << login.err.toStdString() << login.out.toStdString();
    EXPECT_TRUE(login.out.contains("Signed in as demo@veltrane.test\n"));
    const std::optional<std::string> token = storedToken();
    ASSERT_TRUE(token && token->size() >= 8) << login.out.toStdString();
    for (std::size_t at = 0; at + 8 <= token->size(); ++at) { // no piece of the token in the log
        const QString piece = QString::fromStdString(token->substr(at, 8));
        EXPECT_FALSE(login.out.contains(piece) || login.err.contains(piece)) << login.out.toStdString();
    }
    const QString warning =
        "⚠️ No Secret Service available — the session token is stored unencrypted in ";
    if (usesSecretService()) {
        EXPECT_FALSE(login.err.contains("unencrypted"));
        EXPECT_FALSE(fs::exists(credentialFolder()));
    } else {
        EXPECT_EQ(login.err.count("unencrypted"), 1) << login.err.toStdString();
        EXPECT_TRUE(login.err.contains(warning + QString::fromStdString(credentialFolder().string())));
        EXPECT_EQ(fs::status(tokenFile()).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(fs::status(credentialFolder()).permissions() & fs::perms::all, fs::perms::owner_all);
    }

    // Each command is a new process that restores the stored session; only the sign-in warns.
    const std::vector<std::pair<QStringList, QStringList>> answers = {
        {{"whoami"}, {"usr-demo\tdemo@veltrane.test\tDemo User"}},
        {{"projects"}, {"prj-alpha\tAlpha Research\tactive", "prj-beta\tBeta Launch\tactive"}},
        {{"meetings", "prj-alpha"},
         {"mtg-alpha-kickoff\tKickoff\t2026-12-01\t", "mtg-alpha-weekly\tWeekly sync\t2026-12-08\t"}},
        {{"meetings", "prj-beta"}, {}}};
    for (const auto& [arguments, lines] : answers) {
        const CliRun run = cli(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(linesOf(run.out), lines) << arguments.join(' ').toStdString();
        EXPECT_FALSE(run.out.contains("unencrypted") || run.err.contains("unencrypted"));
    }
    const CliRun created = cli({"create-meeting", "prj-beta", "--name", "Retro", "--date", "2026-12-10"});
    ASSERT_EQ(created.exitCode, 0) << created.err.toStdString();
    const QStringList createdLines = linesOf(created.out);
    ASSERT_EQ(createdLines.size(), 1) << created.out.toStdString();
    EXPECT_TRUE(createdLines[0].endsWith("\tRetro\t2026-12-10\t")) << created.out.toStdString();
    EXPECT_EQ(linesOf(cli({"meetings", "prj-beta"}).out), createdLines);
}

TEST_F(CliServer, WrongPasswordSaysSoAndStoresNothing) {
    const CliRun login = signIn("not-the-password\n");
    EXPECT_EQ(login.exitCode, 1);
    EXPECT_EQ(linesOf(login.err), QStringList{"Invalid email or password."}) << login.err.toStdString();
    EXPECT_FALSE(storedToken());
    EXPECT_FALSE(fs::exists(tokenFile()));

    const CliRun empty = signIn("\n");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(linesOf(empty.err), QStringList{"Enter your email and password."});
}

TEST_F(CliServer, CommandsNeedASignInAndMistakesExitWithTwo) {
    for (const QStringList& arguments :
         QList<QStringList>{{"whoami"},
                            {"projects"},
                            {"meetings", "prj-alpha"},
                            {"create-meeting", "prj-beta", "--name", "X", "--date", "2026-12-10"}}) {
        const CliRun run = cli(arguments);
        EXPECT_EQ(run.exitCode, 1) << arguments.join(' ').toStdString() << run.out.toStdString();
        EXPECT_EQ(linesOf(run.err), QStringList{"Authentication required"})
            << arguments.join(' ').toStdString();
    }
    // Signed in, so that a request sent despite a mistake would go through and show.
    ASSERT_EQ(signIn().exitCode, 0);
    // Each mistake, and the start of the one line that explains it.
    const QList<std::pair<QStringList, QString>> mistakes = {
        {{"login"}, "usage: veltrane-cli login --email E"},
        {{"login", "--email"}, "--email needs a value"},
        {{"meetings"}, "usage: veltrane-cli meetings <project-id>"},
        {{"create-meeting", "prj-beta", "--name", "X"}, "usage: veltrane-cli create-meeting <project-id>"},
        {{"create-meeting", "prj-beta", "--name", "X", "--date", "2026-02-30"},
         "--date must be a date as yyyy-MM-dd, not \"2026-02-30\""}};
    for (const auto& [arguments, message] : mistakes) {
        const CliRun run = cli(arguments, "demo-password\n");
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString() << run.err.toStdString();
        const QStringList lines = linesOf(run.err);
        EXPECT_TRUE(lines.size() == 1 && lines[0].startsWith(message)) << run.err.toStdString();
    }
    // In German the explanation is German; what `meetings` prints for scripts is not translated.
    QProcessEnvironment english = environment;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"}) {
        environment.remove(variable);
    }
    environment.insert("LANG", "de_DE.UTF-8");
    const CliRun german = cli({"create-meeting", "prj-beta", "--name", "X", "--date", "2026-02-30"});
    EXPECT_EQ(german.exitCode, 2);
    EXPECT_EQ(linesOf(german.err),
              QStringList{"--date muss ein Datum im Format yyyy-MM-dd sein, nicht „2026-02-30“"});
    EXPECT_EQ(cli({"meetings", "prj-alpha"}).out, runCli({"meetings", "prj-alpha"}, 20'000, english).out);
    environment.insert("VELTRANE_SERVER_URL", "not a url");
    const CliRun badURL = cli({"projects"});
    EXPECT_EQ(badURL.exitCode, 2) << badURL.err.toStdString();
    EXPECT_EQ(linesOf(badURL.err), QStringList{"Keine verwendbare Server-Adresse: not a url"});
    environment = english;
    // No meeting was created behind a refusal.
    environment.insert("VELTRANE_SERVER_URL", QString::fromStdString(server.baseURL()));
    EXPECT_TRUE(cli({"meetings", "prj-beta"}).out.isEmpty());
}

} // namespace
} // namespace veltrane::test
