#include "ServerFixture.h"

#include <gmock/gmock.h>

namespace veltrane::devserver {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

using LoginFlowTest = ServerFixture;

[[nodiscard]] const nlohmann::json& fieldNode(const nlohmann::json& flow, const std::string& name) {
    for (const auto& node : flow.at("ui").at("nodes")) {
        if (node.at("attributes").at("name") == name) {
            return node;
        }
    }
    throw std::runtime_error("no node " + name);
}

TEST_F(LoginFlowTest, StartedFlowOffersThePasswordFormAndWhereToSubmitIt) {
    const auto result = client_->Get("/self-service/login/api");
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
    const auto flow = nlohmann::json::parse(result->body);
    const std::string id = flow.at("id").get<std::string>();
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(flow.at("type"), "api");
    EXPECT_TRUE(flow.at("expires_at").is_string());
    EXPECT_EQ(flow.at("ui").at("method"), "POST");
    EXPECT_EQ(flow.at("ui").at("action"), server_->baseUrl() + "/self-service/login?flow=" + id);
    EXPECT_EQ(fieldNode(flow, "identifier").at("group"), "default");
    EXPECT_EQ(fieldNode(flow, "password").at("attributes").at("type"), "password");
    EXPECT_EQ(fieldNode(flow, "method").at("attributes").at("value"), "password");
    EXPECT_TRUE(fieldNode(flow, "password").at("messages").empty());
    EXPECT_NE(startFlow(), id);
}

TEST_F(LoginFlowTest, RightCredentialsGiveASessionTokenAndTheIdentity) {
    const auto result =
        submit(startFlow(), {{"method", "password"}, {"identifier", kEmail}, {"password", kPassword}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
    const auto body = nlohmann::json::parse(result->body);
    EXPECT_GE(body.at("session_token").get<std::string>().size(), 32u);
    const auto& session = body.at("session");
    EXPECT_EQ(session.at("active"), true);
    EXPECT_EQ(session.at("identity").at("traits").at("email"), kEmail);
    EXPECT_EQ(session.at("identity").at("traits").at("name").at("first"), "Demo");
    EXPECT_EQ(session.at("identity").at("traits").at("name").at("last"), "User");
}

TEST_F(LoginFlowTest, EmailIsMatchedWithoutRegardToCaseAndEachSignInGetsItsOwnToken) {
    const auto first = submit(
        startFlow(), {{"method", "password"}, {"identifier", "Demo@Veltrane.TEST"}, {"password", kPassword}});
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    EXPECT_NE(nlohmann::json::parse(first->body).at("session_token"), signIn());
}

TEST_F(LoginFlowTest, WrongPasswordAnswersTheFlowWithTheInvalidCredentialsMessage) {
    const std::string flowId = startFlow();
    const auto result =
        submit(flowId, {{"method", "password"}, {"identifier", kEmail}, {"password", "wrong"}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 400);
    const auto flow = nlohmann::json::parse(result->body);
    EXPECT_EQ(flow.at("id"), flowId);
    const auto& messages = flow.at("ui").at("messages");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].at("id"), 4000006);
    EXPECT_EQ(messages[0].at("type"), "error");
    EXPECT_EQ(messages[0].at("text"),
              "The provided credentials are invalid, check for spelling mistakes in your "
              "password or username, email address, or phone number.");
    EXPECT_EQ(fieldNode(flow, "identifier").at("attributes").at("value"), kEmail);

    // A rejected attempt leaves the flow open for the next one.
    const auto retry =
        submit(flowId, {{"method", "password"}, {"identifier", kEmail}, {"password", kPassword}});
    ASSERT_TRUE(retry);
    EXPECT_EQ(retry->status, 200);
}

TEST_F(LoginFlowTest, UnknownUserGetsTheSameMessageAsAWrongPassword) {
    const auto result = submit(
        startFlow(), {{"method", "password"}, {"identifier", "nobody@veltrane.test"}, {"password", "x"}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 400);
    EXPECT_EQ(nlohmann::json::parse(result->body).at("ui").at("messages")[0].at("id"), 4000006);
}

TEST_F(LoginFlowTest, EmptyFieldsAreReportedOnTheirOwnNodes) {
    const auto noPassword =
        submit(startFlow(), {{"method", "password"}, {"identifier", kEmail}, {"password", ""}});
    ASSERT_TRUE(noPassword);
    ASSERT_EQ(noPassword->status, 400);
    auto flow = nlohmann::json::parse(noPassword->body);
    EXPECT_FALSE(flow.at("ui").contains("messages") && !flow.at("ui").at("messages").empty());
    EXPECT_TRUE(fieldNode(flow, "identifier").at("messages").empty());
    const auto& passwordMessages = fieldNode(flow, "password").at("messages");
    ASSERT_EQ(passwordMessages.size(), 1u);
    EXPECT_EQ(passwordMessages[0].at("id"), 4000002);
    EXPECT_EQ(passwordMessages[0].at("text"), "Property password is missing.");
    EXPECT_EQ(passwordMessages[0].at("type"), "error");

    const auto noIdentifier = submit(startFlow(), {{"method", "password"}, {"password", kPassword}});
    ASSERT_TRUE(noIdentifier);
    ASSERT_EQ(noIdentifier->status, 400);
    flow = nlohmann::json::parse(noIdentifier->body);
    EXPECT_EQ(fieldNode(flow, "identifier").at("messages")[0].at("text"), "Property identifier is missing.");
    EXPECT_TRUE(fieldNode(flow, "password").at("messages").empty());
}

TEST_F(LoginFlowTest, UnknownFlowIsGone) {
    const auto result = submit("00000000-0000-4000-8000-000000000000",
                               {{"method", "password"}, {"identifier", kEmail}, {"password", kPassword}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 410);
    const auto error = nlohmann::json::parse(result->body).at("error");
    EXPECT_EQ(error.at("id"), "self_service_flow_expired");
    EXPECT_EQ(error.at("code"), 410);
    EXPECT_EQ(error.at("status"), "Gone");
    EXPECT_TRUE(error.at("reason").is_string());
    EXPECT_TRUE(error.at("message").is_string());
}

TEST_F(LoginFlowTest, CompletedFlowCannotBeSubmittedAgain) {
    const std::string flowId = startFlow();
    const nlohmann::json form = {{"method", "password"}, {"identifier", kEmail}, {"password", kPassword}};
    const auto first = submit(flowId, form);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 200);
    const auto second = submit(flowId, form);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 410);
}

TEST_F(LoginFlowTest, MalformedSubmissionsGetAnErrorBody) {
    const std::string flowId = startFlow();
    const auto notJson =
        client_->Post("/self-service/login?flow=" + flowId, "{\"method\": \"password\",", "application/json");
    ASSERT_TRUE(notJson);
    EXPECT_EQ(notJson->status, 400);
    EXPECT_TRUE(nlohmann::json::parse(notJson->body).at("error").at("reason").is_string());

    const auto numberPassword =
        submit(flowId, {{"method", "password"}, {"identifier", kEmail}, {"password", 7}});
    ASSERT_TRUE(numberPassword);
    EXPECT_EQ(numberPassword->status, 400);

    const auto noFlow = client_->Post("/self-service/login", "{}", "application/json");
    ASSERT_TRUE(noFlow);
    EXPECT_EQ(noFlow->status, 400);

    const auto otherMethod =
        submit(flowId, {{"method", "totp"}, {"identifier", kEmail}, {"password", kPassword}});
    ASSERT_TRUE(otherMethod);
    ASSERT_EQ(otherMethod->status, 400);
    EXPECT_EQ(nlohmann::json::parse(otherMethod->body).at("ui").at("messages")[0].at("type"), "error");
}

class ExpiredFlowTest : public ServerFixture {
protected:
    [[nodiscard]] Options serverOptions() const override {
        Options options = ServerFixture::serverOptions();
        options.loginFlowLifetimeSeconds = 0;
        return options;
    }
};

TEST_F(ExpiredFlowTest, FlowPastItsLifetimeIsGone) {
    const auto result =
        submit(startFlow(), {{"method", "password"}, {"identifier", kEmail}, {"password", kPassword}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 410);
    const auto error = nlohmann::json::parse(result->body).at("error");
    EXPECT_EQ(error.at("id"), "self_service_flow_expired");
    EXPECT_THAT(error.at("reason").get<std::string>(), HasSubstr("expired"));
}

TEST_F(LoginFlowTest, BaseUrlNamesTheLoopbackAddressAndPort) {
    EXPECT_THAT(server_->baseUrl(), StartsWith("http://127.0.0.1:"));
    EXPECT_EQ(server_->baseUrl(), "http://127.0.0.1:" + std::to_string(server_->port()));
}

} // namespace
} // namespace veltrane::devserver
