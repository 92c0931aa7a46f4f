// How the stand-in server is set up: seed data, login flow lifetime and its command line.
#include "devserver/DevServer.h"
#include "devserver/Options.h"
#include "devserver/Stores.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <sstream>

namespace veltrane::devserver {
namespace {

namespace fs = std::filesystem;

class DevServerSetup : public ::testing::Test {
protected:
    [[nodiscard]] fs::path path(const char* name) const { return fs::path(dir.path().toStdString()) / name; }
    [[nodiscard]] Options options() const {
        Options options;
        options.dataDir = path("data");
        options.logRequests = false;
        options.keepAliveTimeoutSeconds = 1;
        return options;
    }

    QTemporaryDir dir;
};

TEST_F(DevServerSetup, UnsafeOrRepeatedIdsAndBadDatesAreRejected) {
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

TEST_F(DevServerSetup, SeedFileIsReadAndABrokenOneStopsTheStart) {
    std::ofstream(path("seed.json")) << R"({
      "users": [{"id": "usr-ann", "email": "ann@example.test", "password": "pw", "first_name": "Ann",
                 "last_name": "Lee", "is_superuser": true}],
      "projects": [{"id": "p1", "name": "One", "status": "active",
                    "meetings": [{"id": "m1", "name": "First", "scheduled_date": "2027-01-04", "end_date": "2027-01-05"}]},
                   {"id": "p2", "name": "Two", "status": "archived"}]})";
    const auto seed = SeedData::load(path("seed.json"));
    ASSERT_TRUE(seed) << seed.error();
    EXPECT_EQ(seed->users.at(0).lastName, "Lee");
    EXPECT_TRUE(seed->users.at(0).isSuperuser);
    EXPECT_EQ(seed->projects.at(1).status, "archived");
    EXPECT_EQ(seed->meetings.at(0).projectId, "p1");
    EXPECT_EQ(seed->meetings.at(0).endDate, "2027-01-05");
    std::ofstream(path("broken.json")) << "{\"projects\": [";
    Options broken = options();
    broken.seedFile = path("broken.json");
    EXPECT_FALSE(DevServer(broken).start());
}

TEST_F(DevServerSetup, FlowPastItsLifetimeIsGone) {
    Options shortLived = options();
    shortLived.loginFlowLifetimeSeconds = 0;
    DevServer server(shortLived);
    ASSERT_TRUE(server.start());
    httplib::Client client("127.0.0.1", server.port());
    const auto flow = nlohmann::json::parse(client.Get("/self-service/login/api")->body);
    const auto late =
        client.Post("/self-service/login?flow=" + flow.at("id").get<std::string>(),
                    R"({"method":"password","identifier":"demo@veltrane.test","password":"demo-password"})",
                    "application/json");
    ASSERT_EQ(late->status, 410);
    EXPECT_EQ(nlohmann::json::parse(late->body).at("error").at("id"), "self_service_flow_expired");
    server.stop();
}

TEST_F(DevServerSetup, CommandLineFillsTheOptionsAndRefusesMistakes) {
    // The words of a command line.
    const auto words = [](const std::string& line) {
        std::istringstream in(line);
        return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
    };
    const auto options =
        CommandLine::parse(words("--port 8123 --data /tmp/d --seed s.json --tls-cert c.pem "
                                 "--tls-key k.pem --fail-uploads 30 --fail-status 401 --fail-close "
                                 "--delay-ms 250 --expire-tokens-after 3 --seed-random 99 --quiet"));
    ASSERT_TRUE(options) << options.error();
    EXPECT_EQ(options->port, 8123);
    EXPECT_EQ(options->dataDir, "/tmp/d");
    EXPECT_EQ(options->seedFile, fs::path("s.json"));
    EXPECT_EQ(options->tlsCertFile, fs::path("c.pem"));
    EXPECT_EQ(options->tlsKeyFile, fs::path("k.pem"));
    EXPECT_EQ(options->faults.uploadFailurePercent, 30);
    EXPECT_EQ(options->faults.uploadFailureStatus, 401);
    EXPECT_TRUE(options->faults.uploadFailureClosesConnection);
    EXPECT_EQ(options->faults.responseDelayMs, 250);
    EXPECT_EQ(options->faults.tokenExpiresAfterRequests, 3);
    EXPECT_EQ(options->faults.randomSeed, 99u);
    EXPECT_FALSE(options->logRequests);
    EXPECT_EQ(options->host, "127.0.0.1");
    EXPECT_EQ(CommandLine::parse({})->dataDir, "devserver-data");
    for (const char* wrong : {"--port", "--port 70000", "--fail-uploads 101", "--delay-ms x", "--bogus",
                              "--tls-cert c.pem", "--port 12a"}) {
        EXPECT_FALSE(CommandLine::parse(words(wrong))) << wrong;
    }
}

} // namespace
} // namespace veltrane::devserver
