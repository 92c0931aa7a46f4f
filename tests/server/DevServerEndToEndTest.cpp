// The server-access objects and the assignment model, wired as the application wires them,
// against the local stand-in server running in this process.
#include "assignment/AssignmentModel.h"
#include "devserver/DevServer.h"
#include "platform/keychain/impl/FileKeychain.h"
#include "platform/settings/UserDefaults.h"
#include "server/APIClient.h"
#include "server/AuthManager.h"
#include "server/CredentialStore.h"
#include "server/HttpTransport.h"
#include "server/ProjectService.h"
#include "server/RunTask.h"
#include "server/ServerConfiguration.h"
#include "server/ServerErrors.h"
#include "support/EventLoopWait.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace veltrane {
namespace {

using test::runTask;

constexpr const char* kEmail = "demo@veltrane.test";
constexpr const char* kPassword = "demo-password";

// Stands in the protected keychain's place: unreachable, except that it can hand out one
// given token on its next read, as if another sign-in had replaced the token meanwhile.
class OneStaleRead final : public KeychainBackend {
public:
    void arm(std::string token) { stale_ = std::move(token); }

    [[nodiscard]] LookupResult copyMatching(const std::string&, const std::string&) override {
        if (!stale_) {
            return {kKeychainMissingEntitlement, std::nullopt};
        }
        LookupResult result{kKeychainSuccess, std::move(stale_)};
        stale_.reset();
        return result;
    }
    [[nodiscard]] std::int32_t add(const std::string&, const std::string&, const std::string&,
                                   bool) override {
        return kKeychainMissingEntitlement;
    }
    [[nodiscard]] std::int32_t deleteItem(const std::string&, const std::string&) override {
        return kKeychainMissingEntitlement;
    }
    [[nodiscard]] std::optional<std::string> errorMessage(std::int32_t) const override {
        return std::nullopt;
    }

private:
    std::optional<std::string> stale_;
};

// One "run" of the application: fresh objects over the credential files in `folder`.
struct AppObjects {
    AppObjects(const std::string& baseUrl, const std::filesystem::path& folder)
        : config(QUrl(QString::fromStdString(baseUrl))),
          credentials(protectedKeychain, std::make_shared<FileKeychain>(folder), folder.string()) {}

    std::shared_ptr<OneStaleRead> protectedKeychain = std::make_shared<OneStaleRead>();
    ServerConfiguration config;
    CredentialStore credentials;
    HttpTransport transport;
    AuthManager auth{config, credentials, transport};
    APIClient client{config, auth, credentials, transport};
    ProjectService projects{client};
};

class DevServerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dataDir.isValid() && keyDir.isValid());
        devserver::Options options;
        options.dataDir = dataDir.path().toStdString();
        options.logRequests = false;
        options.keepAliveTimeoutSeconds = 1;
        server = std::make_unique<devserver::DevServer>(options);
        ASSERT_TRUE(server->start());
        app = std::make_unique<AppObjects>(server->baseUrl(), credentialFolder());
    }
    void TearDown() override {
        app.reset();
        server->stop();
    }

    [[nodiscard]] std::filesystem::path credentialFolder() const {
        return std::filesystem::path(keyDir.path().toStdString()) / "credentials";
    }
    // Quits the running application objects and starts them again over the same store.
    void restart() {
        app.reset();
        app = std::make_unique<AppObjects>(server->baseUrl(), credentialFolder());
    }
    void signIn() {
        runTask(app->auth.login(kEmail, kPassword));
        ASSERT_EQ(app->auth.state().kind(), AuthState::Kind::authenticated)
            << app->auth.state().errorMessage();
    }
    [[nodiscard]] std::size_t calls(const std::string& prefix) const { return server->requestCount(prefix); }

    QTemporaryDir dataDir, keyDir;
    std::unique_ptr<devserver::DevServer> server;
    std::unique_ptr<AppObjects> app;
};

template <typename Record> std::vector<std::string> idsOf(const std::vector<Record>& records) {
    std::vector<std::string> ids;
    std::ranges::transform(records, std::back_inserter(ids), &Record::id);
    return ids;
}

APIError::Kind apiErrorOf(QCoro::Task<std::vector<ProjectResponse>> task) {
    try {
        (void)runTask(std::move(task));
    } catch (const APIError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "the call succeeded";
    return APIError::Kind::notConfigured;
}

TEST_F(DevServerEndToEnd, SignInGivesTheProfileAndStoresTheToken) {
    runTask(app->auth.login("demo@veltrane.test", "wrong"));
    EXPECT_EQ(app->auth.state(), AuthState::error("The provided credentials are invalid, check for spelling "
                                                  "mistakes in your password or username, email address, or "
                                                  "phone number."));
    EXPECT_FALSE(app->auth.currentToken());

    runTask(app->auth.login("  demo@veltrane.test ", kPassword));
    const AuthState& state = app->auth.state();
    ASSERT_EQ(state.kind(), AuthState::Kind::authenticated) << state.errorMessage();
    ASSERT_TRUE(state.profile());
    EXPECT_EQ(state.profile()->id, "usr-demo");
    EXPECT_EQ(state.profile()->email, kEmail);
    EXPECT_EQ(state.profile()->name, "Demo User");
    EXPECT_TRUE(state.profile()->isActive);
    ASSERT_TRUE(app->auth.currentToken());
    EXPECT_TRUE(std::filesystem::exists(credentialFolder() / "co.brimfold.VeltraneRecorder+accessToken"));
    EXPECT_EQ(runTask(app->auth.fetchCurrentUser()).id, "usr-demo");
}

TEST_F(DevServerEndToEnd, ProjectsAndMeetingsComeFromTheServer) {
    signIn();
    EXPECT_EQ(idsOf(runTask(app->projects.fetchActiveProjects())),
              (std::vector<std::string>{"prj-alpha", "prj-beta"}));

    const std::vector<MeetingResponse> meetings = runTask(app->projects.fetchMeetings("prj-alpha"));
    EXPECT_EQ(idsOf(meetings), (std::vector<std::string>{"mtg-alpha-kickoff", "mtg-alpha-weekly"}));
    ASSERT_EQ(meetings.size(), 2u);
    EXPECT_EQ(meetings[0].projectId, "prj-alpha");
    EXPECT_EQ(meetings[0].scheduledDate, "2026-12-01");
    EXPECT_TRUE(runTask(app->projects.fetchMeetings("prj-beta")).empty());
    try {
        (void)runTask(app->projects.fetchMeetings("prj-missing"));
        ADD_FAILURE() << "an unknown project has meetings";
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::notFound);
    }
}

TEST_F(DevServerEndToEnd, CreatedMeetingCarriesLocalDaysAndIsListed) {
    signIn();
    // 23:30 local time on the last day of the year is still that day, whatever the time zone.
    const QDateTime lateEvening(QDate(2026, 12, 31), QTime(23, 30), Qt::LocalTime);
    const MeetingResponse created = runTask(app->projects.createMeeting(
        "prj-beta", "Retro", lateEvening, QDateTime(QDate(2027, 1, 2), QTime(0, 15), Qt::LocalTime)));
    EXPECT_EQ(created.projectId, "prj-beta");
    EXPECT_EQ(created.name, "Retro");
    EXPECT_EQ(created.scheduledDate, "2026-12-31");
    EXPECT_EQ(created.endDate, "2027-01-02");
    EXPECT_EQ(runTask(app->projects.fetchMeetings("prj-beta")), std::vector<MeetingResponse>{created});
}

TEST_F(DevServerEndToEnd, AssignmentModelRestoresReconcilesAndCreates) {
    signIn();
    InMemoryUserDefaults defaults;
    defaults.setString(AssignmentModel::kSelectedProjectIdKey, "prj-alpha");
    defaults.setString(AssignmentModel::kSelectedMeetingIdKey, "mtg-alpha-weekly");
    {
        AssignmentModel model(app->client, defaults);
        runTask(model.loadProjects());
        EXPECT_EQ(model.errorMessage(), std::nullopt);
        EXPECT_EQ(idsOf(model.projects()), (std::vector<std::string>{"prj-alpha", "prj-beta"}));
        EXPECT_EQ(model.selectedProjectId(), "prj-alpha");
        EXPECT_EQ(idsOf(model.meetings()),
                  (std::vector<std::string>{"mtg-alpha-kickoff", "mtg-alpha-weekly"}));
        EXPECT_EQ(model.selectedMeetingId(), "mtg-alpha-weekly");

        const MeetingResponse created =
            runTask(model.createMeeting("Design review", QDateTime(QDate(2026, 12, 15), QTime(12, 0)), {}));
        EXPECT_EQ(model.meetings().front(), created);
        EXPECT_EQ(model.meetings().size(), 3u);
        EXPECT_EQ(defaults.string(AssignmentModel::kSelectedMeetingIdKey),
                  QString::fromStdString(created.id));

        // After a restart the new meeting, now on the server, is chosen again.
        AssignmentModel restarted(app->client, defaults);
        runTask(restarted.loadProjects());
        EXPECT_EQ(restarted.selectedMeetingId(), QString::fromStdString(created.id));
        EXPECT_EQ(restarted.meetings().size(), 3u);

        restarted.selectProject(restarted.projects().at(1));
        ASSERT_TRUE(test::waitUntil([&] { return !restarted.isLoadingMeetings(); }));
        EXPECT_TRUE(restarted.meetings().empty());
        EXPECT_EQ(defaults.string(AssignmentModel::kSelectedProjectIdKey), "prj-beta");
        EXPECT_EQ(defaults.string(AssignmentModel::kSelectedMeetingIdKey), std::nullopt);
    }

    // A remembered project that the server no longer lists as active is not chosen, its key is
    // kept, and no meetings are asked for.
    defaults.setString(AssignmentModel::kSelectedProjectIdKey, "prj-old");
    const std::size_t meetingCalls = calls("/api/v1/projects/");
    AssignmentModel stale(app->client, defaults);
    runTask(stale.loadProjects());
    EXPECT_FALSE(stale.hasSelectedProject());
    EXPECT_TRUE(stale.meetings().empty());
    EXPECT_EQ(defaults.string(AssignmentModel::kSelectedProjectIdKey), "prj-old");
    EXPECT_EQ(calls("/api/v1/projects/"), meetingCalls);
}

TEST_F(DevServerEndToEnd, ExpiredTokenIsRevalidatedOnceThenNeedsANewSignIn) {
    signIn(); // the token's first request: the profile check
    server->setFaults({.tokenExpiresAfterRequests = 3});
    InMemoryUserDefaults defaults;
    AssignmentModel model(app->client, defaults);
    defaults.setString(AssignmentModel::kSelectedProjectIdKey, "prj-alpha");
    runTask(model.loadProjects()); // requests two and three
    ASSERT_EQ(model.projects().size(), 2u);
    ASSERT_EQ(model.meetings().size(), 2u);

    const std::size_t projectCalls = calls("/api/v1/projects"), profileCalls = calls("/api/v1/auth/me");
    EXPECT_EQ(apiErrorOf(app->projects.fetchActiveProjects()), APIError::Kind::unauthorized);
    EXPECT_EQ(calls("/api/v1/projects"), projectCalls + 1);              // not repeated
    EXPECT_EQ(calls("/api/v1/auth/me"), profileCalls + 1);               // one re-validation
    EXPECT_EQ(app->auth.state().kind(), AuthState::Kind::authenticated); // unchanged
    EXPECT_TRUE(app->auth.currentToken());                               // kept

    runTask(model.loadProjects());
    EXPECT_EQ(model.errorMessage(), "Authentication required");
    EXPECT_EQ(model.projects().size(), 2u);
    EXPECT_EQ(model.selectedProjectId(), "prj-alpha");

    // At the next start the dead session is dropped and the sign-in form is due.
    restart();
    runTask(app->auth.restoreSession());
    EXPECT_EQ(app->auth.state(), AuthState::unauthenticated());
    EXPECT_FALSE(app->auth.currentToken());
    EXPECT_FALSE(std::filesystem::exists(credentialFolder() / "co.brimfold.VeltraneRecorder+accessToken"));
}

TEST_F(DevServerEndToEnd, RevalidationPicksUpATokenReplacedMeanwhile) {
    server->setFaults({.tokenExpiresAfterRequests = 3});
    signIn();
    const std::string expired = *app->auth.currentToken();
    (void)runTask(app->projects.fetchActiveProjects());
    (void)runTask(app->projects.fetchMeetings("prj-alpha")); // its third and last request
    signIn();                                                // a fresh token, one request used
    ASSERT_NE(*app->auth.currentToken(), expired);

    app->protectedKeychain->arm(expired); // the call reads the old token, later reads the new one
    const std::size_t projectCalls = calls("/api/v1/projects"), profileCalls = calls("/api/v1/auth/me");
    EXPECT_EQ(runTask(app->projects.fetchActiveProjects()).size(), 2u);
    EXPECT_EQ(calls("/api/v1/projects"), projectCalls + 2);
    EXPECT_EQ(calls("/api/v1/auth/me"), profileCalls + 1);
}

TEST_F(DevServerEndToEnd, StoredSessionIsRestoredAfterARestart) {
    runTask(app->auth.restoreSession());
    EXPECT_EQ(app->auth.state(), AuthState::unauthenticated());
    EXPECT_EQ(calls("/"), 0u); // nothing stored, nothing asked

    signIn();
    restart();
    EXPECT_EQ(app->auth.state(), AuthState::unknown());
    runTask(app->auth.restoreSession());
    ASSERT_EQ(app->auth.state().kind(), AuthState::Kind::authenticated);
    EXPECT_EQ(app->auth.state().profile()->email, kEmail);
    EXPECT_EQ(runTask(app->projects.fetchActiveProjects()).size(), 2u);
}

} // namespace
} // namespace veltrane
