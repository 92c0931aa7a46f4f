#include "assignment/AssignmentModel.h"
#include "platform/settings/UserDefaults.h"
#include "server/RunTask.h"
#include "server/ServerTestRig.h"
#include "server/TestHttpServer.h"
#include "support/EventLoopWait.h"
#include "support/StdoutCapture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

namespace veltrane {
namespace {

using test::RecordedRequest;
using test::runTask;
using test::ServerTestRig;
using test::StdoutCapture;
using test::TestHttpServer;

// A stand-in for the projects API whose answers the test can change between loads.
class ProjectsApi {
public:
    ProjectsApi() {
        setProjects(
            R"([{"id":"prj-a","name":"A","status":"active"},{"id":"prj-b","name":"B","status":"active"},
                        {"id":"prj-x","name":"X","status":"archived"}])");
        setMeetings("prj-a", R"([{"id":"m-1","project_id":"prj-a","name":"Kickoff"},
                                 {"id":"m-2","project_id":"prj-a","name":"Weekly"}])");
        setMeetings("prj-b", "[]");
    }

    void setProjects(std::string body) {
        const std::lock_guard lock(mutex_);
        projects_ = std::move(body);
    }
    void setMeetings(const std::string& projectId, std::string body) {
        const std::lock_guard lock(mutex_);
        meetings_[projectId] = std::move(body);
    }
    void setMeetingsStatus(int status) { meetingsStatus_ = status; }
    void delayMeetingsOf(std::string projectId) { slowProject_ = std::move(projectId); }

    void handle(const RecordedRequest& request, httplib::Response& response) {
        std::string body;
        int status = 200;
        {
            const std::lock_guard lock(mutex_);
            if (request.path == "/api/v1/projects") {
                body = projects_;
            } else if (request.path.ends_with("/meetings") && request.method == "GET") {
                const std::string id = request.path.substr(17, request.path.size() - 17 - 9);
                body = meetings_[id];
                status = meetingsStatus_;
                if (id == slowProject_) {
                    // An answer that arrives after the next one (ordering, not timing, is asserted).
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
            } else if (request.path.ends_with("/meetings")) {
                const auto sent = nlohmann::json::parse(request.body);
                body = nlohmann::json{{"id", "m-new"},
                                      {"project_id", "prj-a"},
                                      {"name", sent.at("name")},
                                      {"scheduled_date", sent.at("scheduled_date")}}
                           .dump();
                status = 201;
            } else if (request.path == "/api/v1/auth/me") {
                status = 401;
            }
        }
        response.status = status;
        response.set_content(body, "application/json");
    }

private:
    std::mutex mutex_;
    std::string projects_;
    std::map<std::string, std::string> meetings_;
    std::atomic<int> meetingsStatus_ = 200;
    std::string slowProject_;
};

class AssignmentModelTest : public ::testing::Test {
protected:
    [[nodiscard]] std::unique_ptr<AssignmentModel> makeModel() {
        return std::make_unique<AssignmentModel>(rig.client, defaults);
    }
    [[nodiscard]] ProjectResponse project(const std::string& id) const {
        return ProjectResponse{id, id, std::nullopt, "active", std::nullopt, std::nullopt};
    }
    [[nodiscard]] std::size_t meetingRequests() const { return server.count("/api/v1/projects/"); }
    void waitForMeetingLoads(AssignmentModel& model, std::size_t requests) {
        ASSERT_TRUE(
            test::waitUntil([&] { return meetingRequests() >= requests && !model.isLoadingMeetings(); }));
    }

    ProjectsApi api;
    TestHttpServer server{[this](const RecordedRequest& request, httplib::Response& response) {
        api.handle(request, response);
    }};
    ServerTestRig rig{server.baseUrl()};
    InMemoryUserDefaults defaults;
};

TEST_F(AssignmentModelTest, FirstLaunchSelectsNothingAndLoadsNoMeetings) {
    rig.storeToken("t");
    auto model = makeModel();
    StdoutCapture capture;
    runTask(model->loadProjects());
    EXPECT_TRUE(capture.contains("📋 active projects: 2\n"));
    ASSERT_EQ(model->projects().size(), 2u); // the archived project is dropped
    EXPECT_FALSE(model->hasSelectedProject());
    EXPECT_TRUE(model->meetings().empty());
    EXPECT_EQ(meetingRequests(), 0u);
    EXPECT_FALSE(model->isLoading());
    EXPECT_EQ(server.requests().at(0).target, "/api/v1/projects?status=active");
}

TEST_F(AssignmentModelTest, StoredChoiceIsRestoredAcrossARestart) {
    defaults.setString("kSelectedProjectId", "prj-a");
    defaults.setString("kSelectedMeetingId", "m-2");
    auto model = makeModel();
    EXPECT_EQ(model->pendingMeetingId(), QString("m-2"));
    StdoutCapture capture;
    runTask(model->loadProjects());
    EXPECT_TRUE(capture.contains("📋 meetings for prj-a: 2 returned\n"));
    ASSERT_TRUE(model->selectedProject());
    EXPECT_EQ(model->selectedProject()->id, "prj-a");
    ASSERT_TRUE(model->selectedMeeting());
    EXPECT_EQ(model->selectedMeeting()->id, "m-2");
    EXPECT_EQ(model->meetings().size(), 2u);
}

TEST_F(AssignmentModelTest, StoredProjectThatIsNotActiveIsNotSelectedAndTheKeyStays) {
    defaults.setString("kSelectedProjectId", "prj-x");
    const int writes = defaults.writeCount();
    auto model = makeModel();
    runTask(model->loadProjects());
    EXPECT_FALSE(model->hasSelectedProject());
    EXPECT_EQ(defaults.string("kSelectedProjectId"), QString("prj-x"));
    EXPECT_EQ(defaults.writeCount(), writes);
    EXPECT_EQ(meetingRequests(), 0u);
}

TEST_F(AssignmentModelTest, SelectedProjectThatDisappearsClearsTheChoice) {
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    waitForMeetingLoads(*model, 1);
    model->selectMeeting(QString("m-1"));
    EXPECT_EQ(defaults.string("kSelectedMeetingId"), QString("m-1"));

    api.setProjects(
        R"([{"id":"prj-b","name":"B","status":"active"},{"id":"prj-a","name":"A","status":"paused"}])");
    runTask(model->loadProjects());
    EXPECT_FALSE(model->selectedProject());
    EXPECT_FALSE(model->selectedMeeting());
    EXPECT_TRUE(model->meetings().empty());
    EXPECT_FALSE(defaults.string("kSelectedProjectId"));
    EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
    EXPECT_EQ(meetingRequests(), 1u);
}

TEST_F(AssignmentModelTest, PickingTheSameProjectAgainDoesNothing) {
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    waitForMeetingLoads(*model, 1);
    const int writes = defaults.writeCount();
    model->selectProject(project("prj-a"));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(defaults.writeCount(), writes);
    EXPECT_EQ(meetingRequests(), 1u);
    EXPECT_EQ(model->meetings().size(), 2u);
}

TEST_F(AssignmentModelTest, MeetingThatDisappearsIsUnselectedOnReload) {
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    waitForMeetingLoads(*model, 1);
    model->selectMeeting(QString("m-2"));
    api.setMeetings("prj-a", R"([{"id":"m-1","project_id":"prj-a","name":"Kickoff"}])");
    runTask(model->loadMeetings());
    EXPECT_FALSE(model->selectedMeeting());
    EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
    EXPECT_EQ(defaults.string("kSelectedProjectId"), QString("prj-a"));
}

TEST_F(AssignmentModelTest, SelectingAnUnknownMeetingSelectsNone) {
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    waitForMeetingLoads(*model, 1);
    model->selectMeeting(QString("m-1"));
    model->selectMeeting(QString("nope"));
    EXPECT_FALSE(model->selectedMeeting());
    EXPECT_FALSE(model->pendingMeetingId());
    EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
}

TEST_F(AssignmentModelTest, CreatingAMeetingPutsItFirstAndSelectsIt) {
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    waitForMeetingLoads(*model, 1);
    const MeetingResponse created = runTask(model->createMeeting(
        "Retro", QDateTime(QDate(2024, 12, 31), QTime(23, 30), Qt::LocalTime), std::nullopt));
    EXPECT_EQ(created.id, "m-new");
    EXPECT_EQ(created.scheduledDate, "2024-12-31");
    ASSERT_EQ(model->meetings().size(), 3u);
    EXPECT_EQ(model->meetings().front().id, "m-new");
    EXPECT_EQ(model->selectedMeeting()->id, "m-new");
    EXPECT_EQ(defaults.string("kSelectedProjectId"), QString("prj-a"));
    EXPECT_EQ(defaults.string("kSelectedMeetingId"), QString("m-new"));
    EXPECT_EQ(meetingRequests(), 2u); // one load, one creation; no reload
    const auto body = nlohmann::json::parse(server.requests().back().body);
    EXPECT_FALSE(body.contains("end_date"));
}

TEST_F(AssignmentModelTest, AMeetingCreatedBeforeTheProjectChangedIsOnlyReturned) {
    for (const std::optional<ProjectResponse>& next :
         {std::optional(project("prj-b")), std::optional<ProjectResponse>()}) {
        auto model = makeModel();
        runTask(model->loadProjects());
        model->selectProject(project("prj-a"));
        ASSERT_TRUE(test::waitUntil([&] { return !model->isLoadingMeetings(); }));
        // The answer is handled by the event loop, so the choice changes before it arrives.
        auto creation = model->createMeeting("Retro", QDateTime::currentDateTime(), std::nullopt);
        model->selectProject(next);
        EXPECT_EQ(runTask(std::move(creation)).id, "m-new");
        ASSERT_TRUE(test::waitUntil([&] { return !model->isLoadingMeetings(); }));
        EXPECT_FALSE(model->selectedMeeting());
        EXPECT_FALSE(model->pendingMeetingId());
        EXPECT_TRUE(model->meetings().empty());
        EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
    }
}

TEST_F(AssignmentModelTest, CreatingWithoutAProjectIsNotConfiguredAndSendsNothing) {
    auto model = makeModel();
    try {
        (void)runTask(model->createMeeting("x", QDateTime::currentDateTime(), std::nullopt));
        FAIL();
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::notConfigured);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AssignmentModelTest, FailedMeetingLoadKeepsDataAndExplains) {
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    waitForMeetingLoads(*model, 1);
    api.setMeetingsStatus(500);
    StdoutCapture capture;
    runTask(model->loadMeetings());
    EXPECT_TRUE(capture.contains("📋 meetings fetch failed: APIError.serverError(statusCode: 500"));
    ASSERT_TRUE(model->errorMessage());
    EXPECT_EQ(model->errorMessage()->toStdString().rfind("Could not load meetings: Server error (500): ", 0),
              0u);
    EXPECT_EQ(model->meetings().size(), 2u);
    EXPECT_FALSE(model->isLoadingMeetings());
}

TEST_F(AssignmentModelTest, FailedProjectLoadWith401ShowsAuthenticationRequired) {
    // Every API call answers 401 and the re-validation fails too.
    TestHttpServer unauthorized(
        [](const RecordedRequest&, httplib::Response& response) { response.status = 401; });
    ServerTestRig otherRig(unauthorized.baseUrl());
    otherRig.storeToken("expired");
    AssignmentModel otherModel(otherRig.client, defaults);
    runTask(otherModel.loadProjects());
    EXPECT_EQ(otherModel.errorMessage(), QString("Authentication required"));
    EXPECT_FALSE(otherModel.isLoading());
    EXPECT_EQ(unauthorized.count("/api/v1/projects"), 1u);
}

TEST_F(AssignmentModelTest, AnEarlierMeetingAnswerIsIgnoredOnceAnotherProjectIsChosen) {
    api.setMeetings("prj-b", R"([{"id":"m-b","project_id":"prj-b","name":"B meeting"}])");
    api.delayMeetingsOf("prj-a");
    auto model = makeModel();
    runTask(model->loadProjects());
    model->selectProject(project("prj-a"));
    model->selectProject(project("prj-b"));
    waitForMeetingLoads(*model, 2);
    ASSERT_TRUE(
        test::waitUntil([&] { return server.requests().size() >= 3 && !model->isLoadingMeetings(); }));
    // Both answers are in; prj-a's, which came last, changed nothing.
    ASSERT_EQ(model->meetings().size(), 1u);
    EXPECT_EQ(model->meetings().front().id, "m-b");
    EXPECT_EQ(model->selectedProject()->id, "prj-b");
}

TEST(UserDefaultsTest, QSettingsFileKeepsValuesAcrossInstances) {
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.ini");
    {
        QSettingsUserDefaults defaults(path);
        defaults.setString("kSelectedProjectId", "prj-a");
        defaults.setString("kSelectedMeetingId", "m");
        defaults.remove("kSelectedMeetingId");
    }
    QSettingsUserDefaults reopened(path);
    EXPECT_EQ(reopened.string("kSelectedProjectId"), QString("prj-a"));
    EXPECT_FALSE(reopened.string("kSelectedMeetingId"));
}

} // namespace
} // namespace veltrane
