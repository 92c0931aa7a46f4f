#include "TempDir.h"

#include "devserver/Options.h"
#include "devserver/DevServer.h"
#include "devserver/Stores.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace veltrane::devserver {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

TEST(SeedDataTest, DemoDataHasTheAgreedUserProjectsAndMeetings) {
    const SeedData demo = SeedData::demo();
    ASSERT_EQ(demo.users.size(), 1u);
    EXPECT_EQ(demo.users[0].email, "demo@veltrane.test");
    EXPECT_EQ(demo.users[0].password, "demo-password");
    ASSERT_EQ(demo.projects.size(), 3u);
    EXPECT_EQ(demo.projects[2].id, "prj-old");
    EXPECT_EQ(demo.projects[2].status, "archived");
    ASSERT_EQ(demo.meetings.size(), 2u);
    EXPECT_EQ(demo.meetings[1].projectId, "prj-alpha");
}

TEST(SeedDataTest, UnsafeOrRepeatedIdsAndBadDatesAreRejected) {
    const std::vector<std::string> documents = {
        R"({"projects": [{"id": "../up", "name": "x", "status": "active"}]})",
        R"({"projects": [{"id": ".incoming", "name": "x", "status": "active"}]})",
        R"({"projects": [{"id": 7, "name": "x", "status": "active"}]})",
        R"({"projects": [{"id": "p", "name": "x"}]})",
        R"({"projects": [{"id": "p", "name": "x", "status": "active"}, {"id": "p", "name": "y", "status": "active"}]})",
        R"({"projects": [{"id": "p", "name": "x", "status": "active",
                          "meetings": [{"id": "m", "name": "y", "scheduled_date": "2026-02-30"}]}]})",
        R"({"users": [{"id": "u", "email": "a@b", "password": "p"}, {"id": "v", "email": "a@b", "password": "q"}]})",
        R"([])",
    };
    for (const auto& text : documents) {
        EXPECT_FALSE(SeedData::fromJson(nlohmann::json::parse(text))) << text;
    }
}

TEST(SeedDataTest, ServerStartsFromASeedFileAndRefusesABrokenOne) {
    TempDir folder;
    writeFile(folder.path() / "seed.json", R"({
      "users": [{"id": "usr-ann", "email": "ann@example.test", "password": "pw", "first_name": "Ann",
                 "last_name": "Lee", "is_superuser": true}],
      "projects": [{"id": "p1", "name": "One", "status": "active",
                    "meetings": [{"id": "m1", "name": "First", "scheduled_date": "2027-01-04", "end_date": "2027-01-05"}]},
                   {"id": "p2", "name": "Two", "status": "archived"}]})");
    Options options;
    options.dataDir = folder.path() / "data";
    options.logRequests = false;
    options.keepAliveTimeoutSeconds = 1;
    options.seedFile = folder.path() / "seed.json";
    DevServer server(options);
    ASSERT_TRUE(server.start());

    httplib::Client client("127.0.0.1", server.port());
    const auto flow = nlohmann::json::parse(client.Get("/self-service/login/api")->body);
    const auto login = client.Post("/self-service/login?flow=" + flow.at("id").get<std::string>(),
                                   R"({"method":"password","identifier":"ann@example.test","password":"pw"})",
                                   "application/json");
    ASSERT_TRUE(login);
    ASSERT_EQ(login->status, 200);
    const httplib::Headers auth = {
        {"Authorization",
         "Bearer " + nlohmann::json::parse(login->body).at("session_token").get<std::string>()}};
    const auto profile = nlohmann::json::parse(client.Get("/api/v1/auth/me", auth)->body);
    EXPECT_EQ(profile.at("id"), "usr-ann");
    EXPECT_EQ(profile.at("name"), "Ann Lee");
    EXPECT_EQ(profile.at("is_superuser"), true);
    const auto projects = nlohmann::json::parse(client.Get("/api/v1/projects?status=active", auth)->body);
    ASSERT_EQ(projects.size(), 1u);
    EXPECT_EQ(projects[0].at("id"), "p1");
    const auto meetings = nlohmann::json::parse(client.Get("/api/v1/projects/p1/meetings", auth)->body);
    ASSERT_EQ(meetings.size(), 1u);
    EXPECT_EQ(meetings[0].at("end_date"), "2027-01-05");
    server.stop();

    writeFile(folder.path() / "broken.json", "{\"projects\": [");
    options.seedFile = folder.path() / "broken.json";
    DevServer broken(options);
    EXPECT_FALSE(broken.start());
}

TEST(CommandLineTest, FlagsFillTheOptions) {
    const auto options = CommandLine::parse({"--port",
                                             "8123",
                                             "--data",
                                             "/tmp/d",
                                             "--seed",
                                             "s.json",
                                             "--tls-cert",
                                             "c.pem",
                                             "--tls-key",
                                             "k.pem",
                                             "--fail-uploads",
                                             "30",
                                             "--fail-status",
                                             "401",
                                             "--fail-close",
                                             "--delay-ms",
                                             "250",
                                             "--expire-tokens-after",
                                             "3",
                                             "--seed-random",
                                             "99",
                                             "--quiet"});
    ASSERT_TRUE(options) << options.error();
    EXPECT_EQ(options->port, 8123);
    EXPECT_EQ(options->dataDir, "/tmp/d");
    EXPECT_EQ(options->seedFile, std::filesystem::path("s.json"));
    EXPECT_EQ(options->tlsCertFile, std::filesystem::path("c.pem"));
    EXPECT_EQ(options->tlsKeyFile, std::filesystem::path("k.pem"));
    EXPECT_EQ(options->faults.uploadFailurePercent, 30);
    EXPECT_EQ(options->faults.uploadFailureStatus, 401);
    EXPECT_TRUE(options->faults.uploadFailureClosesConnection);
    EXPECT_EQ(options->faults.responseDelayMs, 250);
    EXPECT_EQ(options->faults.tokenExpiresAfterRequests, 3);
    EXPECT_EQ(options->faults.randomSeed, 99u);
    EXPECT_FALSE(options->logRequests);
    EXPECT_EQ(options->host, "127.0.0.1");
}

TEST(CommandLineTest, DefaultsAndMistakes) {
    const auto defaults = CommandLine::parse({});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->port, 0);
    EXPECT_EQ(defaults->dataDir, "devserver-data");
    EXPECT_FALSE(defaults->seedFile);
    EXPECT_EQ(defaults->faults.uploadFailurePercent, 0);

    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--port"},
                                                  {"--port", "70000"},
                                                  {"--fail-uploads", "101"},
                                                  {"--delay-ms", "x"},
                                                  {"--bogus"},
                                                  {"--tls-cert", "c.pem"},
                                                  {"--port", "12a"}}) {
        EXPECT_FALSE(CommandLine::parse(wrong)) << wrong.front();
    }
}

} // namespace
} // namespace veltrane::devserver
