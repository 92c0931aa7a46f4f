#include "server/RunTask.h"
#include "server/ServerErrors.h"
#include "server/ServerTestRig.h"
#include "server/TestHttpServer.h"
#include "support/StdoutCapture.h"

#include <QCoroTask>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace veltrane {
namespace {

using test::RecordedRequest;
using test::ServerTestRig;
using test::StdoutCapture;
using test::TestHttpServer;

constexpr const char* kProfile =
    R"({"id":"u-1","email":"demo@veltrane.test","name":null,"is_active":true,"is_superuser":false,"extra":1})";

void json(httplib::Response& response, int status, const std::string& body) {
    response.status = status;
    response.set_content(body, "application/json");
}

// A sign-in server whose submission answer is given; the flow starts fine, "/auth/me" answers
// `meStatus` with the profile.
TestHttpServer::Handler signInServer(int submitStatus, std::string submitBody, int meStatus = 200) {
    return [=](const RecordedRequest& request, httplib::Response& response) {
        if (request.path == "/self-service/login/api") {
            json(response, 200, R"({"id":"flow 1/x","ui":{"nodes":[]}})");
        } else if (request.path == "/self-service/login") {
            json(response, submitStatus, submitBody);
        } else if (request.path == "/api/v1/auth/me") {
            json(response, meStatus, kProfile);
        } else {
            response.status = 404;
        }
    };
}

AuthState loginAndWait(ServerTestRig& rig, const QString& email, const QString& password) {
    test::runTask(rig.auth.login(email, password));
    return rig.auth.state();
}

TEST(AuthStateTest, EqualityFollowsTheRules) {
    UserProfile a{"u-1", "a@x", std::nullopt, true, false, std::nullopt};
    UserProfile sameIdOtherMail{"u-1", "b@x", std::nullopt, false, false, std::nullopt};
    UserProfile other{"u-2", "a@x", std::nullopt, true, false, std::nullopt};
    EXPECT_EQ(AuthState::authenticated(a), AuthState::authenticated(sameIdOtherMail));
    EXPECT_NE(AuthState::authenticated(a), AuthState::authenticated(other));
    EXPECT_NE(AuthState::authenticated(a), AuthState::authenticated(std::nullopt));
    EXPECT_EQ(AuthState::error("x"), AuthState::error("x"));
    EXPECT_NE(AuthState::error("x"), AuthState::error("y"));
    EXPECT_EQ(AuthState::unknown(), AuthState::unknown());
    EXPECT_NE(AuthState::unknown(), AuthState::unauthenticated());
}

TEST(AuthManagerSignIn, SuccessStoresTokenConfirmsProfileAndLogs) {
    TestHttpServer server(signInServer(200, R"({"session_token":"abcdefghijkl","session":{}})"));
    ServerTestRig rig(server.baseUrl());
    int changes = 0;
    QObject::connect(&rig.auth, &AuthManager::stateChanged, [&changes] { ++changes; });
    StdoutCapture capture;
    const AuthState state = loginAndWait(rig, "  demo@veltrane.test\n", " ");
    ASSERT_EQ(state.kind(), AuthState::Kind::authenticated) << state.errorMessage();
    EXPECT_EQ(state.profile()->email, "demo@veltrane.test");
    EXPECT_EQ(changes, 2); // authenticating, authenticated
    EXPECT_EQ(rig.storedToken(), "abcdefghijkl");
    EXPECT_TRUE(
        capture.contains("🔐 login: starting Kratos flow at " + server.baseUrl().toStdString() + "\n"));
    EXPECT_TRUE(capture.contains("🔐 login: got session token (abcdefgh…)\n"));
    EXPECT_TRUE(capture.contains("🔐 login: authenticated as demo@veltrane.test\n"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, "/self-service/login?flow=flow%201%2Fx");
    EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
    const auto body = nlohmann::json::parse(requests[1].body);
    EXPECT_EQ(body, (nlohmann::json{
                        {"method", "password"}, {"identifier", "demo@veltrane.test"}, {"password", " "}}));
    EXPECT_EQ(requests[2].header("Authorization"), "Bearer abcdefghijkl");
    EXPECT_FALSE(requests[2].hasHeader("Content-Type"));
}

TEST(AuthManagerSignIn, EmptyInputIsRejectedWithoutARequest) {
    TestHttpServer server(signInServer(200, "{}"));
    ServerTestRig rig(server.baseUrl());
    EXPECT_EQ(loginAndWait(rig, "   ", "pw"), AuthState::error("Enter your email and password."));
    EXPECT_EQ(loginAndWait(rig, "a@b", ""), AuthState::error("Enter your email and password."));
    EXPECT_TRUE(server.requests().empty());
}

TEST(AuthManagerSignIn, NoBaseUrlIsServerNotConfigured) {
    ServerTestRig rig(std::nullopt);
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"), AuthState::error("Server not configured"));
}

TEST(AuthManagerSignIn, FlowStartAnswering503GivesItsMessageAndNoSubmission) {
    TestHttpServer server([](const RecordedRequest&, httplib::Response& response) { response.status = 503; });
    ServerTestRig rig(server.baseUrl());
    StdoutCapture capture;
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"),
              AuthState::error("Couldn't reach the sign-in service (HTTP 503)."));
    EXPECT_TRUE(capture.contains("🔐 login: flow init failed, HTTP 503\n"));
    EXPECT_TRUE(capture.contains("🔐 login failed: Couldn't reach the sign-in service (HTTP 503).\n"));
    EXPECT_EQ(server.count("/self-service/login"), 1u);
}

TEST(AuthManagerSignIn, RejectedSubmissionPrefersTheErrorMessage) {
    const std::string flow = R"({"id":"f","ui":{"messages":[{"text":"Please check","type":"info"}],
        "nodes":[{"messages":[]},{"messages":[{"id":4,"text":"The password is wrong","type":"error"}]}]}})";
    TestHttpServer server(signInServer(400, flow));
    ServerTestRig rig(server.baseUrl());
    StdoutCapture capture;
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"), AuthState::error("The password is wrong"));
    EXPECT_TRUE(capture.contains("🔐 login: flow submit returned HTTP 400\n"));
    EXPECT_FALSE(rig.storedToken());
}

TEST(AuthManagerSignIn, RejectedSubmissionWithOnlyAnInfoMessageShowsIt) {
    TestHttpServer server(signInServer(400, R"({"id":"f","ui":{"messages":[{"text":"Please check"}]}})"));
    ServerTestRig rig(server.baseUrl());
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"), AuthState::error("Please check"));
}

TEST(AuthManagerSignIn, RejectedSubmissionWithoutMessagesOrFlowIsInvalidCredentials) {
    {
        TestHttpServer server(signInServer(400, R"({"id":"f","ui":{"nodes":[{"messages":null}]}})"));
        ServerTestRig rig(server.baseUrl());
        EXPECT_EQ(loginAndWait(rig, "a@b", "pw"), AuthState::error("Invalid email or password."));
    }
    TestHttpServer server(signInServer(502, "<html><body>Bad gateway</body></html>"));
    ServerTestRig rig(server.baseUrl());
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"), AuthState::error("Invalid email or password."));
}

TEST(AuthManagerSignIn, SuccessWithoutTokenLogsTheBody) {
    TestHttpServer server(signInServer(200, R"({"session":{"id":"s"}})"));
    ServerTestRig rig(server.baseUrl());
    StdoutCapture capture;
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"),
              AuthState::error("Signed in, but the server did not return a session token."));
    EXPECT_TRUE(capture.contains("🔐 login: 200 but no session_token — body: {\"session\":{\"id\":\"s\"}}\n"));
}

TEST(AuthManagerSignIn, SuccessWithoutTokenAndBinaryBodyLogsBinary) {
    TestHttpServer server(signInServer(200, std::string("\xff\x00\xfe", 3)));
    ServerTestRig rig(server.baseUrl());
    StdoutCapture capture;
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"),
              AuthState::error("Signed in, but the server did not return a session token."));
    EXPECT_TRUE(capture.contains("— body: <binary>\n"));
}

TEST(AuthManagerSignIn, ProfileRejectedAfterSignInKeepsTheToken) {
    TestHttpServer server(signInServer(200, R"({"session_token":"tok-123456789"})", 401));
    ServerTestRig rig(server.baseUrl());
    StdoutCapture capture;
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"), AuthState::error("Authentication required"));
    EXPECT_EQ(rig.storedToken(), "tok-123456789");
    EXPECT_TRUE(capture.contains("🔐 login failed: APIError.unauthorized\n"));
}

TEST(AuthManagerSignIn, TokenThatCannotBeStoredGivesTheKeychainMessage) {
    TestHttpServer server(signInServer(200, R"({"session_token":"tok-123456789"})"));
    ServerTestRig rig(server.baseUrl());
    rig.secretService->failEverythingWith(kKeychainMissingEntitlement);
    rig.fileStore->failEverythingWith(kKeychainIOError);
    StdoutCapture capture;
    EXPECT_EQ(loginAndWait(rig, "a@b", "pw"),
              AuthState::error("Signed in, but the session could not be stored (keychain -36 (unknown))."));
    EXPECT_TRUE(capture.contains("🔐 login: token did not survive the keychain\n"));
    EXPECT_EQ(server.count("/api/v1/auth/me"), 0u);
}

TEST(AuthManagerSignIn, UnreachableServerShowsThePlatformDescription) {
    int port = 0;
    {
        TestHttpServer closed([](const RecordedRequest&, httplib::Response&) {});
        port = closed.port();
    }
    ServerTestRig rig(QStringLiteral("http://127.0.0.1:%1").arg(port));
    const AuthState state = loginAndWait(rig, "a@b", "pw");
    ASSERT_EQ(state.kind(), AuthState::Kind::error);
    EXPECT_EQ(state.errorMessage(), "Connection refused");
}

TEST(AuthManagerRestore, NoStoredTokenMakesNoRequest) {
    TestHttpServer server(signInServer(200, "{}"));
    ServerTestRig rig(server.baseUrl());
    test::runTask(rig.auth.restoreSession());
    EXPECT_EQ(rig.auth.state(), AuthState::unauthenticated());
    EXPECT_TRUE(server.requests().empty());
}

TEST(AuthManagerRestore, ValidTokenRestoresTheProfile) {
    TestHttpServer server(signInServer(200, "{}"));
    ServerTestRig rig(server.baseUrl());
    rig.storeToken("stored");
    test::runTask(rig.auth.restoreSession());
    ASSERT_EQ(rig.auth.state().kind(), AuthState::Kind::authenticated);
    EXPECT_EQ(rig.auth.state().profile()->id, "u-1");
    EXPECT_EQ(rig.storedToken(), "stored");
}

TEST(AuthManagerRestore, UnreachableServerRemovesBothItemsSilently) {
    int port = 0;
    {
        TestHttpServer closed([](const RecordedRequest&, httplib::Response&) {});
        port = closed.port();
    }
    ServerTestRig rig(QStringLiteral("http://127.0.0.1:%1").arg(port));
    rig.storeToken("stored");
    rig.secretService->put("refreshToken", "r");
    StdoutCapture capture;
    test::runTask(rig.auth.restoreSession());
    EXPECT_EQ(rig.auth.state(), AuthState::unauthenticated());
    EXPECT_FALSE(rig.storedToken());
    EXPECT_FALSE(rig.secretService->contains("refreshToken"));
    EXPECT_EQ(capture.text(), "");
}

TEST(AuthManagerFetchCurrentUser, ProfileMissingSuperuserFlagFailsToDecode) {
    TestHttpServer server([](const RecordedRequest&, httplib::Response& response) {
        json(response, 200, R"({"id":"u","email":"e","is_active":false})");
    });
    ServerTestRig rig(server.baseUrl());
    rig.storeToken("t");
    EXPECT_THROW(test::runTask(rig.auth.fetchCurrentUser()), DecodingError);
    test::runTask(rig.auth.restoreSession());
    EXPECT_EQ(rig.auth.state(), AuthState::unauthenticated());
}

TEST(AuthManagerFetchCurrentUser, NoTokenIsUnauthorizedWithoutARequest) {
    TestHttpServer server(signInServer(200, "{}"));
    ServerTestRig rig(server.baseUrl());
    try {
        (void)test::runTask(rig.auth.fetchCurrentUser());
        FAIL() << "expected an error";
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::unauthorized);
    }
    EXPECT_TRUE(server.requests().empty());
}

} // namespace
} // namespace veltrane
