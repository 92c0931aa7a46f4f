#include "server/APIClient.h"
#include "server/Records.h"

#include <gtest/gtest.h>

#include <functional>

namespace veltrane {
namespace {

template <typename T> T decode(const char* text) {
    return decodeJson<T>(QByteArray(text));
}

TEST(RecordDecoding, OptionalFieldsMayBeMissingOrNull) {
    const auto project = decode<ProjectResponse>(R"({"id":"p","name":"P","status":"active","description":null,
                                                    "unknown":[1,2]})");
    EXPECT_EQ(project.toJson(), (nlohmann::json{{"id", "p"}, {"name", "P"}, {"status", "active"}}));
}

TEST(RecordDecoding, MalformedBodiesAreDecodingErrors) {
    using Decoder = std::function<void(const char*)>;
    const Decoder project = [](const char* text) { (void)decode<ProjectResponse>(text); };
    const Decoder projects = [](const char* text) { (void)decode<std::vector<ProjectResponse>>(text); };
    const Decoder flow = [](const char* text) { (void)decode<KratosFlow>(text); };
    const std::vector<std::pair<Decoder, const char*>> cases = {
        {project, "{"},
        {project, "1e999"}, // beyond double range: a parser error of its own kind
        {project, R"({"id":"p","name":"P","status":"active","x":-1e400})"},
        {project, R"({"id":7,"name":"P","status":"active"})"},
        {project, R"({"id":"p","name":"P","status":"active","description":3})"},
        {projects, R"({"id":"p"})"},
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
