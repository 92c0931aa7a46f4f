#include "ServerFixture.h"

#include <algorithm>

namespace veltrane::devserver {
namespace {

class ProjectApiTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        token_ = signIn();
    }

    [[nodiscard]] httplib::Result createMeeting(const std::string& projectId, const nlohmann::json& payload) {
        return client_->Post("/api/v1/projects/" + projectId + "/meetings", bearer(token_), payload.dump(),
                             "application/json");
    }

    [[nodiscard]] std::vector<std::string> meetingIds(const std::string& projectId) {
        const auto result = client_->Get("/api/v1/projects/" + projectId + "/meetings", bearer(token_));
        std::vector<std::string> ids;
        if (!result || result->status != 200) {
            ADD_FAILURE() << "meetings of " << projectId << " not listed";
            return ids;
        }
        for (const auto& meeting : nlohmann::json::parse(result->body)) {
            ids.push_back(meeting.at("id").get<std::string>());
        }
        return ids;
    }

    std::string token_;
};

TEST_F(ProjectApiTest, ProfileOfTheSignedInUser) {
    const auto result = client_->Get("/api/v1/auth/me", bearer(token_));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
    const auto profile = nlohmann::json::parse(result->body);
    EXPECT_TRUE(profile.at("id").is_string());
    EXPECT_EQ(profile.at("email"), kEmail);
    EXPECT_EQ(profile.at("name"), "Demo User");
    EXPECT_EQ(profile.at("is_active"), true);
    EXPECT_EQ(profile.at("is_superuser"), false);
    EXPECT_TRUE(profile.at("last_login").is_string());
}

TEST_F(ProjectApiTest, ApiCallsWithoutAValidTokenAreUnauthorized) {
    for (const auto& headers :
         {httplib::Headers{}, bearer("not-a-token"), httplib::Headers{{"Authorization", token_}}}) {
        for (const char* path :
             {"/api/v1/auth/me", "/api/v1/projects?status=active", "/api/v1/projects/prj-alpha/meetings"}) {
            const auto result = client_->Get(path, headers);
            ASSERT_TRUE(result);
            EXPECT_EQ(result->status, 401) << path;
            EXPECT_EQ(nlohmann::json::parse(result->body).at("detail"), "Not authenticated");
        }
    }
    const auto create = client_->Post("/api/v1/projects/prj-alpha/meetings",
                                      R"({"name":"x","scheduled_date":"2026-01-01"})", "application/json");
    ASSERT_TRUE(create);
    EXPECT_EQ(create->status, 401);
}

TEST_F(ProjectApiTest, ProjectsAreFilteredByStatus) {
    const auto active = client_->Get("/api/v1/projects?status=active", bearer(token_));
    ASSERT_TRUE(active);
    ASSERT_EQ(active->status, 200);
    const auto projects = nlohmann::json::parse(active->body);
    ASSERT_EQ(projects.size(), 2u);
    EXPECT_EQ(projects[0].at("id"), "prj-alpha");
    EXPECT_EQ(projects[0].at("name"), "Alpha Research");
    EXPECT_EQ(projects[0].at("status"), "active");
    EXPECT_TRUE(projects[0].at("description").is_string());
    EXPECT_EQ(projects[1].at("id"), "prj-beta");
    EXPECT_FALSE(projects[1].contains("description"));

    const auto archived = client_->Get("/api/v1/projects?status=archived", bearer(token_));
    ASSERT_TRUE(archived);
    const auto old = nlohmann::json::parse(archived->body);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0].at("id"), "prj-old");

    const auto all = client_->Get("/api/v1/projects", bearer(token_));
    ASSERT_TRUE(all);
    EXPECT_EQ(nlohmann::json::parse(all->body).size(), 3u);
}

TEST_F(ProjectApiTest, MeetingsOfAProject) {
    const auto result = client_->Get("/api/v1/projects/prj-alpha/meetings", bearer(token_));
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200);
    const auto meetings = nlohmann::json::parse(result->body);
    ASSERT_EQ(meetings.size(), 2u);
    EXPECT_EQ(meetings[0].at("id"), "mtg-alpha-kickoff");
    EXPECT_EQ(meetings[0].at("project_id"), "prj-alpha");
    EXPECT_EQ(meetings[0].at("name"), "Kickoff");
    EXPECT_EQ(meetings[0].at("scheduled_date"), "2026-12-01");
    EXPECT_EQ(meetings[1].at("id"), "mtg-alpha-weekly");
    EXPECT_EQ(meetings[1].at("scheduled_date"), "2026-12-08");
    EXPECT_TRUE(meetingIds("prj-beta").empty());

    const auto unknown = client_->Get("/api/v1/projects/prj-nope/meetings", bearer(token_));
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_FALSE(unknown->body.empty());
}

TEST_F(ProjectApiTest, CreatedMeetingIsAnsweredAndListed) {
    const auto result = createMeeting(
        "prj-beta",
        {{"name", "Launch review"}, {"scheduled_date", "2026-03-31"}, {"end_date", "2026-04-01"}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 201);
    const auto meeting = nlohmann::json::parse(result->body);
    EXPECT_TRUE(meeting.at("id").is_string());
    EXPECT_EQ(meeting.at("project_id"), "prj-beta");
    EXPECT_EQ(meeting.at("name"), "Launch review");
    EXPECT_EQ(meeting.at("scheduled_date"), "2026-03-31");
    EXPECT_EQ(meeting.at("end_date"), "2026-04-01");
    EXPECT_TRUE(meeting.at("created_at").is_string());
    EXPECT_EQ(meetingIds("prj-beta"), std::vector<std::string>{meeting.at("id").get<std::string>()});

    const auto withoutEnd = createMeeting("prj-beta", {{"name", "Retro"}, {"scheduled_date", "2026-04-02"}});
    ASSERT_TRUE(withoutEnd);
    ASSERT_EQ(withoutEnd->status, 201);
    EXPECT_FALSE(nlohmann::json::parse(withoutEnd->body).contains("end_date"));
}

TEST_F(ProjectApiTest, InvalidMeetingPayloadsAreRejected) {
    const std::vector<nlohmann::json> payloads = {
        {{"scheduled_date", "2026-03-31"}},
        {{"name", ""}, {"scheduled_date", "2026-03-31"}},
        {{"name", "   "}, {"scheduled_date", "2026-03-31"}},
        {{"name", 5}, {"scheduled_date", "2026-03-31"}},
        {{"name", "No date"}},
        {{"name", "Bad day"}, {"scheduled_date", "2026-02-29"}},
        {{"name", "Bad month"}, {"scheduled_date", "2026-13-01"}},
        {{"name", "With time"}, {"scheduled_date", "2026-03-31T10:00:00Z"}},
        {{"name", "Short"}, {"scheduled_date", "2026-3-1"}},
        {{"name", "Bad end"}, {"scheduled_date", "2026-03-31"}, {"end_date", "tomorrow"}},
        nlohmann::json::array(),
    };
    for (const auto& payload : payloads) {
        const auto result = createMeeting("prj-alpha", payload);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 422) << payload.dump();
        EXPECT_FALSE(result->body.empty());
    }
    const auto notJson =
        client_->Post("/api/v1/projects/prj-alpha/meetings", bearer(token_), "{name", "application/json");
    ASSERT_TRUE(notJson);
    EXPECT_EQ(notJson->status, 422);
    EXPECT_EQ(meetingIds("prj-alpha").size(), 2u);

    const auto unknownProject = createMeeting("prj-nope", {{"name", "x"}, {"scheduled_date", "2026-03-31"}});
    ASSERT_TRUE(unknownProject);
    EXPECT_EQ(unknownProject->status, 404);
}

TEST_F(ProjectApiTest, LeapDayIsAValidDate) {
    const auto result = createMeeting("prj-alpha", {{"name", "Leap"}, {"scheduled_date", "2028-02-29"}});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 201);
}

TEST_F(ProjectApiTest, RequestsAreCountedByPath) {
    const std::size_t before = server_->requestCount("/api/v1/projects");
    ASSERT_TRUE(client_->Get("/api/v1/projects?status=active", bearer(token_)));
    ASSERT_TRUE(client_->Get("/api/v1/projects/prj-alpha/meetings", bearer(token_)));
    EXPECT_EQ(server_->requestCount("/api/v1/projects"), before + 2);
    EXPECT_EQ(server_->requestCount("/api/v1/projects/prj-alpha/meetings"), 1u);
    EXPECT_EQ(server_->requestCount("/self-service/login"), 2u);
    EXPECT_EQ(server_->requestCount("/api/v1/ingestion"), 0u);
}

} // namespace
} // namespace veltrane::devserver
