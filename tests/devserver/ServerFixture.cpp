#include "ServerFixture.h"

namespace veltrane::devserver {

Options ServerFixture::serverOptions() const {
    Options options;
    options.dataDir = dataDir_.path();
    options.logRequests = false;
    options.keepAliveTimeoutSeconds = 1;
    return options;
}

void ServerFixture::SetUp() {
    server_ = std::make_unique<DevServer>(serverOptions());
    ASSERT_TRUE(server_->start());
    ASSERT_GT(server_->port(), 0);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->port());
}

void ServerFixture::TearDown() {
    client_.reset();
    if (server_) {
        server_->stop();
    }
}

std::string ServerFixture::startFlow() {
    const auto result = client_->Get("/self-service/login/api", {{"Accept", "application/json"}});
    if (!result || result->status != 200) {
        ADD_FAILURE() << "the login flow could not be started";
        return {};
    }
    return nlohmann::json::parse(result->body).at("id").get<std::string>();
}

httplib::Result ServerFixture::submit(const std::string& flowId, const nlohmann::json& form) {
    return client_->Post("/self-service/login?flow=" + flowId, {{"Accept", "application/json"}}, form.dump(),
                         "application/json");
}

std::string ServerFixture::signIn() {
    const auto result =
        submit(startFlow(), {{"method", "password"}, {"identifier", kEmail}, {"password", kPassword}});
    if (!result || result->status != 200) {
        ADD_FAILURE() << "the demo user could not sign in";
        return {};
    }
    return nlohmann::json::parse(result->body).at("session_token").get<std::string>();
}

httplib::Headers ServerFixture::bearer(const std::string& token) {
    return {{"Authorization", "Bearer " + token}};
}

} // namespace veltrane::devserver
