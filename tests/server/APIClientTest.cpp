// The JSON API's calls: what the stand-in server of the end-to-end tests does not answer (CliServer).
#include "server/ProjectService.h"
#include "server/Records.h"
#include "server/ServerErrors.h"
#include "support/CannedHttpServer.h"
#include "support/RunTask.h"
#include "support/ServerTestRig.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::CannedHttpServer;
using test::RecordedRequest;
using test::runTask;
using test::ServerTestRig;

constexpr const char* kProfile = R"({"id":"u-1","email":"e@x","is_active":true,"is_superuser":false})";

APIError sendExpectingError(ServerTestRig& rig, const QString& path) {
    try {
        (void)runTask(rig.client.send(path, "GET"));
    } catch (const APIError& error) {
        return error;
    }
    throw std::runtime_error("expected an APIError");
}

TEST(APIClientSend, AnswersOtherThanSuccessAreTypedErrors) {
    struct Case {
        int status;
        std::string body;
        APIError::Kind kind;
        std::string description;
    };
    const std::vector<Case> cases = {
        {403, "", APIError::Kind::forbidden, "Access denied"},
        {404, "", APIError::Kind::notFound, "Not found"},
        {500, "boom", APIError::Kind::serverError, "Server error (500): boom"},
        {418, std::string("\xff\xfe\xfd", 3), APIError::Kind::serverError,
         "Server error (418): Unknown error"},
        {303, "", APIError::Kind::serverError, "Server error (303): "},
    };
    for (const Case& c : cases) {
        CannedHttpServer server(CannedHttpServer::answering(c.status, c.body));
        ServerTestRig rig(server.baseURL());
        const APIError error = sendExpectingError(rig, "/x");
        EXPECT_EQ(error.kind(), c.kind) << c.status;
        EXPECT_EQ(error.description(), c.description) << c.status;
    }
    ServerTestRig unconfigured(std::nullopt);
    EXPECT_EQ(sendExpectingError(unconfigured, "/x").kind(), APIError::Kind::notConfigured);
    // Ids stay one path segment whatever their characters; a base URL may end with a slash.
    EXPECT_EQ(ProjectService::meetingsPath("a/b?c"), "/projects/a%2Fb%3Fc/meetings");
    EXPECT_EQ(ServerConfiguration(QUrl("https://h.example/")).apiBaseURL(), QUrl("https://h.example/api/v1"));
    CannedHttpServer silent;
    silent.holdRequests(); // released when the server stops
    ServerTestRig slow(std::optional<QUrl>(QUrl(silent.baseURL())), std::chrono::milliseconds(200));
    const APIError timedOut = sendExpectingError(slow, "/slow");
    EXPECT_EQ(timedOut.kind(), APIError::Kind::networkError);
    EXPECT_EQ(timedOut.description(), "The server at " + QUrl(silent.baseURL()).authority().toStdString() +
                                          " did not answer in time.");
}

TEST(APIClient401, ReValidatedOnlyWithATokenAndRepeatedOnceWithTheRereadToken) {
    // Calls and "/auth/me" accept only the token "new"; "/locked" accepts none.
    CannedHttpServer server([](const RecordedRequest& request, httplib::Response& response) {
        const bool accepted =
            request.header("Authorization") == "Bearer new" && request.path != "/api/v1/locked";
        response.status = accepted ? 200 : 401;
        response.body = request.path == "/api/v1/auth/me" ? kProfile : "[]";
    });
    ServerTestRig rig(server.baseURL());
    EXPECT_EQ(sendExpectingError(rig, "/projects").kind(), APIError::Kind::unauthorized);
    EXPECT_EQ(server.count("/api/v1/auth/me"), 0u); // re-validation needs a token
    rig.storeToken("old");
    EXPECT_EQ(sendExpectingError(rig, "/projects").kind(), APIError::Kind::unauthorized);
    EXPECT_EQ(server.count("/api/v1/projects"), 2u);
    EXPECT_EQ(server.count("/api/v1/auth/me"), 1u);
    EXPECT_EQ(rig.auth.state(), AuthState::unknown()); // the sign-in state is not touched

    // The call's first request is built with "old" right away; the token changes while it travels.
    auto sendTask = rig.client.send("/projects?status=active", "POST", nlohmann::json{{"a", 1}});
    rig.storeToken("new");
    EXPECT_EQ(runTask(std::move(sendTask)), QByteArray("[]"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 6u);
    EXPECT_EQ(requests[3].header("Authorization"), "Bearer old");
    EXPECT_EQ(requests[3].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[4].path, "/api/v1/auth/me");
    EXPECT_EQ(requests[5].header("Authorization"), "Bearer new");
    EXPECT_EQ(requests[5].target, "/api/v1/projects?status=active");
    EXPECT_EQ(requests[5].body, R"({"a":1})");

    // A second 401 after a successful re-validation is not re-validated again.
    EXPECT_EQ(sendExpectingError(rig, "/locked").kind(), APIError::Kind::unauthorized);
    EXPECT_EQ(server.count("/api/v1/locked"), 2u);
    EXPECT_EQ(server.count("/api/v1/auth/me"), 3u);
}

} // namespace
} // namespace veltrane
