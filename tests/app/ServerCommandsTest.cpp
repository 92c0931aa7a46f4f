#include "app/cli/ServerCommands.h"
#include "server/TestHttpServer.h"
#include "support/StdoutCapture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace veltrane {
namespace {

using test::RecordedRequest;
using test::StdoutCapture;
using test::TestHttpServer;

class ServerCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dataHome.isValid());
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", dataHome.path().toUtf8());
        // No Secret Service: the token goes to the file store under XDG_DATA_HOME.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        qputenv("VELTRANE_SERVER_URL", server.baseUrl().toUtf8());
    }
    void TearDown() override { qunsetenv("VELTRANE_SERVER_URL"); }

    QTemporaryDir dataHome;
    TestHttpServer server{[](const RecordedRequest& request, httplib::Response& response) {
        if (request.path == "/api/v1/projects") {
            response.status = 200;
            response.body = R"([{"id":"prj-alpha","name":"Alpha","status":"active"},)"
                            R"({"id":"prj-old","name":"Old","status":"archived"}])";
        } else if (request.path == "/api/v1/projects/prj-alpha/meetings" && request.method == "POST") {
            response.status = 201;
            response.body =
                R"({"id":"m-9","project_id":"prj-alpha","name":"Retro","scheduled_date":"2024-05-01"})";
        } else {
            response.status = 401;
        }
    }};
};

TEST_F(ServerCommandsTest, KnowsItsCommands) {
    EXPECT_TRUE(isServerCommand("login"));
    EXPECT_TRUE(isServerCommand("create-meeting"));
    EXPECT_FALSE(isServerCommand("record"));
}

TEST_F(ServerCommandsTest, BadUsageExitsWithTwoAndSendsNothing) {
    EXPECT_EQ(runServerCommand({"meetings"}), 2);
    EXPECT_EQ(runServerCommand({"create-meeting", "prj-alpha", "--name", "x", "--date", "01.05.2024"}), 2);
    EXPECT_EQ(runServerCommand({"create-meeting", "prj-alpha", "--date", "2024-05-01"}), 2);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(ServerCommandsTest, ProjectsPrintsOneLinePerActiveProject) {
    StdoutCapture capture;
    EXPECT_EQ(runServerCommand({"projects"}), 0);
    EXPECT_EQ(capture.text(), "prj-alpha\tAlpha\tactive\n");
}

TEST_F(ServerCommandsTest, CreateMeetingSendsTheDaysAndPrintsTheMeeting) {
    StdoutCapture capture;
    EXPECT_EQ(runServerCommand({"create-meeting", "prj-alpha", "--name", "Retro", "--date", "2024-05-01"}),
              0);
    EXPECT_EQ(capture.text(), "m-9\tRetro\t2024-05-01\t\n");
    EXPECT_EQ(nlohmann::json::parse(server.requests().back().body),
              (nlohmann::json{{"name", "Retro"}, {"scheduled_date", "2024-05-01"}}));
}

TEST_F(ServerCommandsTest, ServerFailureExitsWithOne) {
    EXPECT_EQ(runServerCommand({"whoami"}), 1);
    EXPECT_EQ(runServerCommand({"meetings", "prj-beta"}), 1);
}

} // namespace
} // namespace veltrane
