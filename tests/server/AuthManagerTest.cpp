// Sign-in answers other than the stand-in server's (its sign-in and wrong password: CliServer).
#include "support/CannedHttpServer.h"
#include "support/LogCapture.h"
#include "support/RunTask.h"
#include "support/ServerTestRig.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace veltrane {
namespace {

using test::CannedHttpServer;
using test::RecordedRequest;
using test::ServerTestRig;

// The flow starts with `flowStatus`, the submission answers `submitStatus` with `submitBody`,
// "/auth/me" answers `meStatus` with the profile.
CannedHttpServer::Handler signInServer(int submitStatus, std::string submitBody, int meStatus = 200,
                                       int flowStatus = 200) {
    return [=](const RecordedRequest& request, httplib::Response& response) {
        if (request.path == "/self-service/login/api") {
            response.status = flowStatus;
            response.set_content(R"({"id":"flow 1/x","ui":{"nodes":[]}})", "application/json");
        } else if (request.path == "/self-service/login") {
            response.status = submitStatus;
            response.set_content(submitBody, "application/json");
        } else {
            response.status = meStatus;
            response.set_content(R"({"id":"u-1","email":"demo@veltrane.test","name":null,"is_active":true,)"
                                 R"("is_superuser":false,"extra":1})",
                                 "application/json");
        }
    };
}

AuthState login(ServerTestRig& rig, const QString& email = "a@b", const QString& password = "pw") {
    test::runTask(rig.auth.login(email, password));
    return rig.auth.state();
}

QString closedServerURL() {
    const CannedHttpServer closed;
    return closed.baseURL();
}

TEST(AuthManagerSignIn, TheFormIsCheckedAndSentTrimmedAndTheTokenMustBeStored) {
    CannedHttpServer server(signInServer(200, R"({"session_token":"abcdefghijkl","session":{}})"));
    ServerTestRig rig(server.baseURL());
    EXPECT_EQ(login(rig, "   ", "pw"), AuthState::error("Enter your email and password."));
    EXPECT_TRUE(server.requests().empty());
    test::LogCapture log;
    const AuthState state = login(rig, "  demo@veltrane.test\n", " ");
    ASSERT_EQ(state.kind(), AuthState::Kind::authenticated) << state.errorMessage();
    EXPECT_EQ(rig.storedToken(), "abcdefghijkl");
    for (std::size_t at = 0; at + 4 <= 12; ++at) { // no piece of the token in the log
        EXPECT_FALSE(log.contains(std::string("abcdefghijkl").substr(at, 4))) << log.text();
    }
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].target, "/self-service/login?flow=flow%201%2Fx");
    EXPECT_EQ(
        nlohmann::json::parse(requests[1].body),
        (nlohmann::json{{"method", "password"}, {"identifier", "demo@veltrane.test"}, {"password", " "}}));
    EXPECT_EQ(requests[2].header("Authorization"), "Bearer abcdefghijkl");

    rig.secretService->failEverythingWith(KeychainResult::unavailable());
    rig.fileStore->failEverythingWith(KeychainResult::failed("The credential file could not be used."));
    EXPECT_EQ(login(rig), AuthState::error("Signed in, but the session could not be stored (keychain The "
                                           "credential file could not be used.)."));
    EXPECT_EQ(server.count("/api/v1/auth/me"), 1u); // the first sign-in's only
}

TEST(AuthManagerSignIn, FailuresShowTheirMessage) {
    const std::string errorAndInfo = R"({"id":"f","ui":{"messages":[{"text":"Please check","type":"info"}],
        "nodes":[{"messages":[]},{"messages":[{"id":4,"text":"The password is wrong","type":"error"}]}]}})";
    struct Case {
        CannedHttpServer::Handler server;
        std::string message;
        bool keepsToken = false; // a token the server handed out stays, even when its profile is refused
    };
    const std::vector<Case> cases = {
        {signInServer(200, "{}", 200, 503), "Couldn't reach the sign-in service (HTTP 503)."},
        {signInServer(400, errorAndInfo), "The password is wrong"},
        {signInServer(400, R"({"id":"f","ui":{"messages":[{"text":"Please check"}]}})"), "Please check"},
        {signInServer(400, R"({"id":"f","ui":{"messages":[{"id":4000006,"text":"… or phone number."}]}})"),
         "Invalid email or password."},
        {signInServer(400, R"({"id":"f","ui":{"nodes":[{"messages":null}]}})"), "Invalid email or password."},
        {signInServer(502, "<html>Bad gateway</html>"), "Invalid email or password."},
        {signInServer(200, R"({"session":{"id":"s"}})"),
         "Signed in, but the server did not return a session token."},
        {signInServer(200, R"({"session_token":"tok-123456789"})", 401), "Authentication required", true},
    };
    for (const Case& c : cases) {
        CannedHttpServer server(c.server);
        ServerTestRig rig(server.baseURL());
        EXPECT_EQ(login(rig), AuthState::error(c.message));
        EXPECT_EQ(rig.storedToken().has_value(), c.keepsToken) << c.message;
    }
    ServerTestRig unconfigured(std::nullopt);
    EXPECT_EQ(login(unconfigured), AuthState::error("Server not configured"));
    const QString closed = closedServerURL();
    ServerTestRig unreachable(closed);
    EXPECT_EQ(login(unreachable),
              AuthState::error("Couldn't reach the server at " + QUrl(closed).authority().toStdString() +
                               " (Connection refused)."));
    ServerTestRig insecure(QStringLiteral("http://example.invalid")); // refused before any connection
    EXPECT_NE(login(insecure).errorMessage().find("Refusing plain HTTP to example.invalid"),
              std::string::npos);
}

// A restored session is covered end to end (the window's second run); a failed check is not.
TEST(AuthManagerRestore, AFailedCheckOfTheStoredTokenRemovesBothItemsSilently) {
    ServerTestRig rig(closedServerURL()); // any failed check, here no answer at all
    rig.storeToken("stored");
    rig.secretService->put("refreshToken", "r");
    test::LogCapture capture;
    test::runTask(rig.auth.restoreSession());
    EXPECT_EQ(rig.auth.state(), AuthState::unauthenticated());
    EXPECT_FALSE(rig.storedToken());
    EXPECT_FALSE(rig.secretService->contains("refreshToken"));
    EXPECT_EQ(capture.text(), "");
}

} // namespace
} // namespace veltrane
