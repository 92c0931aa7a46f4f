#include "server/APIClient.h"
#include "server/Records.h"

#include <gtest/gtest.h>

#include <functional>

namespace veltrane {
namespace {

template <typename T> T decode(const char* text) {
    return decodeJson<T>(QByteArray(text));
}

TEST(RecordDecoding, OptionalFieldsMayBeMissingOrNullAndRoundTrip) {
    const auto project = decode<ProjectResponse>(R"({"id":"p","name":"P","status":"active","description":null,
                                                    "unknown":[1,2]})");
    EXPECT_EQ(project.toJson(), (nlohmann::json{{"id", "p"}, {"name", "P"}, {"status", "active"}}));
    const auto meeting = decode<MeetingResponse>(
        R"({"id":"m","project_id":"p","name":"M","scheduled_date":"2024-05-01","end_date":null,
            "created_at":"2024-04-30T08:00:00.5+02:00"})");
    EXPECT_EQ(meeting.createdAt, "2024-04-30T08:00:00.5+02:00"); // dates stay as the server sent them
    EXPECT_EQ(MeetingResponse::fromJson(meeting.toJson()), meeting);
}

TEST(RecordDecoding, MalformedBodiesAreDecodingErrors) {
    using Decoder = std::function<void(const char*)>;
    const Decoder project = [](const char* text) { (void)decode<ProjectResponse>(text); };
    const Decoder projects = [](const char* text) { (void)decode<std::vector<ProjectResponse>>(text); };
    const Decoder profile = [](const char* text) { (void)decode<UserProfile>(text); };
    const Decoder flow = [](const char* text) { (void)decode<KratosFlow>(text); };
    const std::vector<std::pair<Decoder, const char*>> cases = {
        {project, "{"},
        {project, "1e999"}, // beyond double range: a parser error of its own kind
        {project, R"({"id":"p","name":"P","status":"active","x":-1e400})"},
        {project, R"({"id":7,"name":"P","status":"active"})"},
        {project, R"({"id":"p","name":"P","status":"active","description":3})"},
        {project, R"({"id":"p","name":null,"status":"active"})"},
        {projects, R"({"id":"p"})"},
        {profile, R"({"id":"u","email":"e","is_active":"yes","is_superuser":false})"},
        {flow, R"({"id":"f"})"},
        {flow, R"({"id":"f","ui":{"messages":[{"type":"error"}]}})"},
    };
    for (const auto& [decoder, body] : cases) {
        EXPECT_THROW(decoder(body), DecodingError) << body;
    }
    // Through the client: one bad element fails the whole list, with the key named.
    try {
        (void)APIClient::decode<std::vector<ProjectResponse>>(R"([{"id":"p","name":"P","status":"active"},
                                                                 {"id":"q","name":"Q"}])");
        FAIL();
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::decodingError);
        EXPECT_NE(error.description().find("status"), std::string::npos);
    }
}

} // namespace
} // namespace veltrane
