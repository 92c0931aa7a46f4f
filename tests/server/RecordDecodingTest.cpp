#include "server/APIClient.h"
#include "server/Records.h"
#include "server/ServerConfiguration.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace veltrane {
namespace {

template <typename T> T decode(const char* text) {
    return decodeJson<T>(QByteArray(text));
}

TEST(RecordDecoding, ProjectOptionalFieldsMayBeMissingOrNull) {
    const auto project = decode<ProjectResponse>(R"({"id":"p","name":"P","status":"active","description":null,
                                                    "unknown":[1,2]})");
    EXPECT_EQ(project.id, "p");
    EXPECT_FALSE(project.description);
    EXPECT_FALSE(project.createdAt);
    EXPECT_FALSE(project.updatedAt);
    EXPECT_EQ(project.toJson(), (nlohmann::json{{"id", "p"}, {"name", "P"}, {"status", "active"}}));
}

TEST(RecordDecoding, MissingRequiredKeyFailsTheWholeList) {
    EXPECT_THROW((void)decode<std::vector<ProjectResponse>>(
                     R"([{"id":"p","name":"P","status":"active"},{"id":"q","name":"Q"}])"),
                 DecodingError);
    try {
        (void)APIClient::decode<std::vector<ProjectResponse>>(R"([{"id":"q","name":"Q"}])");
        FAIL();
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::decodingError);
        EXPECT_NE(error.description().find("status"), std::string::npos);
    }
    EXPECT_TRUE(decode<std::vector<ProjectResponse>>("[]").empty());
    EXPECT_THROW((void)decode<std::vector<ProjectResponse>>(R"({"id":"p"})"), DecodingError);
}

TEST(RecordDecoding, BodiesThatAreNotJsonFailAsDecodingErrors) {
    // A number beyond double range is a parser error of its own kind, not a syntax error.
    for (const char* body : {"", "{", "1e999", R"({"id":"p","name":"P","status":"active","x":-1e400})"}) {
        EXPECT_THROW((void)decode<ProjectResponse>(body), DecodingError) << body;
        EXPECT_THROW((void)decode<KratosFlow>(body), DecodingError) << body;
    }
}

TEST(RecordDecoding, WrongTypesAndNumericIdsFail) {
    EXPECT_THROW((void)decode<ProjectResponse>(R"({"id":7,"name":"P","status":"active"})"), DecodingError);
    EXPECT_THROW((void)decode<ProjectResponse>(R"({"id":"p","name":"P","status":"active","description":3})"),
                 DecodingError);
    EXPECT_THROW((void)decode<MeetingResponse>(R"({"id":"m","project_id":1,"name":"M"})"), DecodingError);
    EXPECT_THROW((void)decode<ProjectResponse>(R"({"id":"p","name":null,"status":"active"})"), DecodingError);
    EXPECT_THROW((void)decode<ProjectResponse>("not json"), DecodingError);
}

TEST(RecordDecoding, MeetingKeepsDatesAsTheServerSentThem) {
    const auto meeting = decode<MeetingResponse>(
        R"({"id":"m","project_id":"p","name":"M","scheduled_date":"2024-05-01","end_date":null,
            "created_at":"2024-04-30T08:00:00.5+02:00"})");
    EXPECT_EQ(meeting.scheduledDate, "2024-05-01");
    EXPECT_FALSE(meeting.endDate);
    EXPECT_EQ(meeting.createdAt, "2024-04-30T08:00:00.5+02:00");
    EXPECT_EQ(MeetingResponse::fromJson(meeting.toJson()), meeting);
}

TEST(RecordDecoding, UserProfileStrictness) {
    const auto profile = decode<UserProfile>(
        R"({"id":"u","email":"e","is_active":false,"is_superuser":false,"last_login":null})");
    EXPECT_FALSE(profile.isActive);
    EXPECT_FALSE(profile.name);
    EXPECT_THROW((void)decode<UserProfile>(R"({"id":"u","email":"e","is_active":false})"), DecodingError);
    EXPECT_THROW(
        (void)decode<UserProfile>(R"({"id":"u","email":"e","is_active":"yes","is_superuser":false})"),
        DecodingError);
}

TEST(RecordDecoding, KratosFlowCollectsFormThenFieldMessages) {
    const auto flow = decode<KratosFlow>(R"({"id":"f","ui":{"messages":[{"text":"a","type":"info"}],
        "nodes":[{"messages":[{"text":"b"}]},{},{"messages":[{"text":"c","type":"error"}]}]}})");
    const auto messages = flow.collectedMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "a");
    EXPECT_EQ(messages[1].text, "b");
    EXPECT_FALSE(messages[1].type);
    EXPECT_EQ(messages[2].type, "error");
    EXPECT_THROW((void)decode<KratosFlow>(R"({"id":"f"})"), DecodingError);
    EXPECT_THROW((void)decode<KratosFlow>(R"({"id":"f","ui":{"messages":[{"type":"error"}]}})"),
                 DecodingError);
}

TEST(MeetingPayload, LocalCalendarDaysAndNoEndDateKey) {
    const QDateTime lateEvening(QDate(2024, 12, 31), QTime(23, 30), Qt::LocalTime);
    // Handed over as UTC, the day is still the local one.
    const auto payload = MeetingCreatePayload::make("Review", lateEvening.toUTC(), std::nullopt);
    EXPECT_EQ(payload.toJson(), (nlohmann::json{{"name", "Review"}, {"scheduled_date", "2024-12-31"}}));
    EXPECT_FALSE(payload.toJson().contains("end_date"));

    const QDateTime earlier(QDate(2024, 12, 30), QTime(0, 15), Qt::LocalTime);
    const auto withEnd = MeetingCreatePayload::make("R", lateEvening, earlier);
    EXPECT_EQ(withEnd.toJson().at("end_date"), "2024-12-30");
}

TEST(ServerConfigurationTest, DefaultIsHttpsAndTheVariableOverridesIt) {
    EXPECT_EQ(ServerConfiguration::defaultBaseUrl().scheme(), "https");
    qunsetenv(ServerConfiguration::kBaseUrlEnvironmentVariable);
    EXPECT_EQ(ServerConfiguration::fromEnvironment().baseUrl(), ServerConfiguration::defaultBaseUrl());
    qputenv(ServerConfiguration::kBaseUrlEnvironmentVariable, "http://127.0.0.1:8123");
    EXPECT_EQ(ServerConfiguration::fromEnvironment().apiBaseUrl()->toString(),
              "http://127.0.0.1:8123/api/v1");
    qputenv(ServerConfiguration::kBaseUrlEnvironmentVariable, "not a url");
    EXPECT_THROW((void)ServerConfiguration::fromEnvironment(), std::invalid_argument);
    qunsetenv(ServerConfiguration::kBaseUrlEnvironmentVariable);
}

} // namespace
} // namespace veltrane
