// The stand-in server's input checks, token expiry and injected faults, as a client sees them; what
// the command line gets from it is shown end to end (tests/integration/server and upload).
#include "devserver/DevServer.h"
#include "devserver/Options.h"
#include "devserver/Stores.h"
#include "support/StandInServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

namespace veltrane::devserver {
namespace {

using test::StandInServer;
using Json = nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kEmail = StandInServer::kDemoEmail;
constexpr const char* kPassword = StandInServer::kDemoPassword;
constexpr const char* kUpload = "/api/v1/ingestion/upload";
const std::string kInvalidCredentials =
    "The provided credentials are invalid, check for spelling mistakes in "
    "your password or username, email address, or phone number.";

const Json& fieldNode(const Json& flow, const std::string& name) {
    for (const auto& node : flow.at("ui").at("nodes")) {
        if (node.at("attributes").at("name") == name) {
            return node;
        }
    }
    throw std::runtime_error("no node " + name);
}

class DevServerAPI : public ::testing::Test {
protected:
    static httplib::Headers bearer(const std::string& token) {
        return {{"Authorization", "Bearer " + token}};
    }

    std::string startFlow() { return Json::parse(client.Get("/self-service/login/api")->body).at("id"); }
    httplib::Result submit(const std::string& flowID, const Json& form) {
        return client.Post("/self-service/login?flow=" + flowID, form.dump(), "application/json");
    }
    static Json credentials(const Json& identifier, const Json& password) {
        return {{"method", "password"}, {"identifier", identifier}, {"password", password}};
    }
    // Status and body of a GET, or of a POST of `payload` when given.
    std::pair<int, Json> call(const std::string& path, const std::optional<Json>& payload = std::nullopt,
                              const httplib::Headers& headers = {}) {
        const auto& sent = headers.empty() ? auth : headers;
        const auto result =
            payload ? client.Post(path, sent, payload->dump(), "application/json") : client.Get(path, sent);
        if (!result) {
            ADD_FAILURE() << path << " got no answer";
            return {0, nullptr};
        }
        return {result->status, Json::parse(result->body, nullptr, false)};
    }
    httplib::Result upload(const std::string& fileName) {
        return client.Post(
            kUpload, auth,
            {{"project_id", "prj-alpha", "", ""}, {"file", "chunk bytes", fileName, "audio/wav"}});
    }
    [[nodiscard]] std::size_t storedFileCount() const {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(server.dataDir())) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    }
    void setFaults(const FaultOptions& faults) { server.inProcess().setFaults(faults); }

    QTemporaryDir dir;
    StandInServer server{test::StandInMode::inProcess, fs::path(dir.path().toStdString())};
    httplib::Client client{"127.0.0.1", server.port()};
    httplib::Headers auth = bearer(server.signInDemoUser());
};

using LoginFlowTest = DevServerAPI;
using FaultInjectionTest = DevServerAPI;

// A sign-in's token and identity are shown end to end (CliServer); here the flow's checks.
TEST_F(LoginFlowTest, RejectedSubmissionsKeepTheFlowOpenUntilItIsUsedOrExpires) {
    const std::string flowID = startFlow();
    for (const auto& [identifier, password] :
         std::vector<std::pair<Json, Json>>{{kEmail, "wrong"}, {"nobody@veltrane.test", kPassword}}) {
        const auto result = submit(flowID, credentials(identifier, password));
        ASSERT_EQ(result->status, 400);
        const auto flow = Json::parse(result->body);
        EXPECT_EQ(flow.at("id"), flowID);
        const auto& messages = flow.at("ui").at("messages");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].at("id"), 4000006);
        EXPECT_EQ(messages[0].at("type"), "error");
        EXPECT_EQ(messages[0].at("text"), kInvalidCredentials);
        EXPECT_EQ(fieldNode(flow, "identifier").at("attributes").at("value"), identifier);
    }
    // Empty fields are reported on their own nodes.
    auto flow = Json::parse(submit(flowID, credentials(kEmail, ""))->body);
    EXPECT_TRUE(fieldNode(flow, "identifier").at("messages").empty());
    EXPECT_EQ(fieldNode(flow, "password").at("messages")[0].at("id"), 4000002);
    EXPECT_EQ(fieldNode(flow, "password").at("messages")[0].at("text"), "Property password is missing.");
    flow = Json::parse(submit(flowID, {{"method", "password"}, {"password", kPassword}})->body);
    EXPECT_EQ(fieldNode(flow, "identifier").at("messages")[0].at("text"), "Property identifier is missing.");
    // Malformed submissions, and others with an error body.
    EXPECT_EQ(client.Post("/self-service/login?flow=" + flowID, "{\"method\":", "application/json")->status,
              400);
    EXPECT_EQ(submit(flowID, credentials(kEmail, 7))->status, 400);
    EXPECT_EQ(client.Post("/self-service/login", "{}", "application/json")->status, 400);
    const auto otherMethod =
        submit(flowID, {{"method", "totp"}, {"identifier", kEmail}, {"password", kPassword}});
    EXPECT_EQ(Json::parse(otherMethod->body).at("ui").at("messages")[0].at("type"), "error");

    // The address in any case; a completed, an unknown and a timed-out flow are gone.
    EXPECT_EQ(submit(flowID, credentials("Demo@Veltrane.TEST", kPassword))->status, 200);
    EXPECT_EQ(submit(flowID, credentials(kEmail, kPassword))->status, 410);
    const auto unknown = submit("00000000-0000-4000-8000-000000000000", credentials(kEmail, kPassword));
    ASSERT_EQ(unknown->status, 410);
    EXPECT_EQ(Json::parse(unknown->body).at("error").at("id"), "self_service_flow_expired");
    Options shortLivedOptions;
    shortLivedOptions.dataDir = fs::path(dir.path().toStdString()) / "short";
    shortLivedOptions.logRequests = false;
    shortLivedOptions.loginFlowLifetimeSeconds = 0;
    DevServer shortLived(shortLivedOptions);
    ASSERT_TRUE(shortLived.start());
    httplib::Client other("127.0.0.1", shortLived.port());
    const std::string lateFlow = Json::parse(other.Get("/self-service/login/api")->body).at("id");
    const auto late = other.Post("/self-service/login?flow=" + lateFlow,
                                 credentials(kEmail, kPassword).dump(), "application/json");
    EXPECT_EQ(late->status, 410);
}

TEST_F(FaultInjectionTest, InjectedUploadFailuresStoreNothingAndLeaveOtherCallsAlone) {
    // Failures with the default status are shown end to end (CliUpload, --fail-uploads).
    setFaults({.uploadFailurePercent = 100, .uploadFailureStatus = 401});
    EXPECT_EQ(Json::parse(upload("a.wav")->body).at("detail"), "Not authenticated");
    EXPECT_EQ(call("/api/v1/auth/me").first, 200);
    setFaults(
        {.uploadFailurePercent = 100, .uploadFailureStatus = 500, .uploadFailureClosesConnection = true});
    EXPECT_FALSE(upload("a.wav"));
    EXPECT_EQ(storedFileCount(), 0u);
}

TEST_F(FaultInjectionTest, TokenStopsWorkingAfterTheAllowedRequestsAndANewSignInHelps) {
    setFaults({.tokenExpiresAfterRequests = 2});
    auth = bearer(server.signInDemoUser());
    for (const int expected : {200, 200, 401, 401}) {
        EXPECT_EQ(call("/api/v1/auth/me").first, expected);
    }
    auth = bearer(server.signInDemoUser());
    EXPECT_EQ(call("/api/v1/projects").first, 200);
    EXPECT_EQ(upload("b.wav")->status, 201);
    EXPECT_EQ(call("/api/v1/auth/me").first, 401);
}

// Names that would put files outside the data folder or into its scratch folder.
TEST(DevServerSetup, UnsafeProjectIdsAndFileNamesAreRejected) {
    for (const char* id : {"../up", ".incoming"}) {
        EXPECT_FALSE(
            SeedData::fromJson(Json{{"projects", {{{"id", id}, {"name", "x"}, {"status", "active"}}}}}))
            << id;
    }
    for (const char* name : {"../escape.wav", "..", "a/b.wav", "a\\b.wav", ""}) {
        EXPECT_FALSE(UploadStore::isSafeFileName(name)) << name;
    }
}

} // namespace
} // namespace veltrane::devserver
