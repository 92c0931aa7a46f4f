#include "ServerFixture.h"

namespace veltrane::devserver {
namespace {

class FaultInjectionTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        token_ = signIn();
    }

    [[nodiscard]] httplib::Result upload(const std::string& fileName) {
        return client_->Post(
            "/api/v1/ingestion/upload", bearer(token_),
            {{"project_id", "prj-alpha", "", ""}, {"file", "chunk bytes", fileName, "audio/wav"}});
    }

    [[nodiscard]] static FaultOptions failingUploads(int percent, int status) {
        FaultOptions faults;
        faults.uploadFailurePercent = percent;
        faults.uploadFailureStatus = status;
        return faults;
    }

    [[nodiscard]] bool stored(const std::string& fileName) const {
        return std::filesystem::exists(dataDir_.path() / "prj-alpha" / "no-meeting" / fileName);
    }

    std::string token_;
};

TEST_F(FaultInjectionTest, EveryUploadFailsWithTheChosenStatusAndNothingIsStored) {
    server_->setFaults(failingUploads(100, 503));
    for (int i = 0; i < 3; ++i) {
        const auto result = upload("a.wav");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 503);
        EXPECT_EQ(result->body, "Injected failure");
    }
    EXPECT_FALSE(stored("a.wav"));

    // Other calls are not affected.
    const auto projects = client_->Get("/api/v1/projects?status=active", bearer(token_));
    ASSERT_TRUE(projects);
    EXPECT_EQ(projects->status, 200);

    server_->setFaults({});
    const auto healed = upload("a.wav");
    ASSERT_TRUE(healed);
    EXPECT_EQ(healed->status, 201);
    EXPECT_TRUE(stored("a.wav"));
}

TEST_F(FaultInjectionTest, InjectedUnauthorizedFailsTheTokenCheckOnlyForThatUpload) {
    server_->setFaults(failingUploads(100, 401));
    const auto result = upload("a.wav");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 401);
    EXPECT_EQ(nlohmann::json::parse(result->body).at("detail"), "Not authenticated");

    const auto profile = client_->Get("/api/v1/auth/me", bearer(token_));
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->status, 200);
}

TEST_F(FaultInjectionTest, ClosedConnectionGivesNoAnswerAndTheServerGoesOn) {
    FaultOptions faults = failingUploads(100, 500);
    faults.uploadFailureClosesConnection = true;
    server_->setFaults(faults);
    const auto result = upload("a.wav");
    EXPECT_FALSE(result);
    EXPECT_FALSE(stored("a.wav"));
    EXPECT_EQ(server_->requestCount("/api/v1/ingestion/upload"), 1u);

    server_->setFaults({});
    const auto healed = upload("a.wav");
    ASSERT_TRUE(healed);
    EXPECT_EQ(healed->status, 201);
}

TEST_F(FaultInjectionTest, SameSeedFailsTheSameUploads) {
    auto outcomes = [this] {
        server_->setFaults(failingUploads(50, 500));
        std::vector<int> statuses;
        for (int i = 0; i < 16; ++i) {
            const auto result = upload("seeded.wav");
            statuses.push_back(result ? result->status : -1);
        }
        return statuses;
    };
    const auto first = outcomes();
    EXPECT_EQ(outcomes(), first);
    EXPECT_NE(std::ranges::count(first, 500), 0);
    EXPECT_NE(std::ranges::count(first, 201), 0);
    EXPECT_EQ(std::ranges::count(first, 500) + std::ranges::count(first, 201), 16);
}

TEST_F(FaultInjectionTest, TokenStopsWorkingAfterTheAllowedRequestsAndANewSignInHelps) {
    FaultOptions faults;
    faults.tokenExpiresAfterRequests = 2;
    server_->setFaults(faults);
    const std::string token = signIn();
    for (const int expected : {200, 200, 401, 401}) {
        const auto result = client_->Get("/api/v1/auth/me", bearer(token));
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, expected);
    }
    const std::string fresh = signIn();
    const auto projects = client_->Get("/api/v1/projects?status=active", bearer(fresh));
    ASSERT_TRUE(projects);
    EXPECT_EQ(projects->status, 200);
    const auto upload =
        client_->Post("/api/v1/ingestion/upload", bearer(fresh),
                      {{"project_id", "prj-alpha", "", ""}, {"file", "x", "b.wav", "audio/wav"}});
    ASSERT_TRUE(upload);
    EXPECT_EQ(upload->status, 201);
    const auto third = client_->Get("/api/v1/auth/me", bearer(fresh));
    ASSERT_TRUE(third);
    EXPECT_EQ(third->status, 401);
}

TEST_F(FaultInjectionTest, DelayedAnswersStillArrive) {
    FaultOptions faults;
    faults.responseDelayMs = 20;
    server_->setFaults(faults);
    const auto result = client_->Get("/api/v1/projects?status=active", bearer(token_));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
}

} // namespace
} // namespace veltrane::devserver
