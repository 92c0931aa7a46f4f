#include "assignment/AssignmentFixture.h"
#include "support/LogCapture.h"

namespace veltrane {
namespace {

using test::LogCapture;
using test::runTask;

class AssignmentModelTest : public test::AssignmentFixture {
protected:
    [[nodiscard]] std::unique_ptr<AssignmentModel> makeModel() {
        return std::make_unique<AssignmentModel>(rig.client, defaults);
    }
    [[nodiscard]] static ProjectResponse project(const std::string& id) {
        return ProjectResponse{id, id, std::nullopt, "active", std::nullopt, std::nullopt};
    }
    // Loads the projects and selects prj-a with its meetings.
    void selectA(AssignmentModel& m) {
        runTask(m.loadProjects());
        m.selectProject(project("prj-a"));
        ASSERT_TRUE(test::waitUntil([&] { return meetingRequests() >= 1 && !m.isLoadingMeetings(); }));
    }
};

TEST_F(AssignmentModelTest, FirstLaunchSelectsNothingAndAStoredChoiceIsRestoredAfterARestart) {
    rig.storeToken("t");
    LogCapture capture;
    runTask(model.loadProjects());
    ASSERT_EQ(model.projects().size(), 2u); // the archived project is dropped
    EXPECT_FALSE(model.hasSelectedProject());
    EXPECT_EQ(meetingRequests(), 0u);
    EXPECT_EQ(server.requests().at(0).target, "/api/v1/projects?status=active");

    defaults.setString("kSelectedProjectId", "prj-a");
    defaults.setString("kSelectedMeetingId", "m-2");
    auto restarted = makeModel();
    EXPECT_EQ(restarted->pendingMeetingId(), QString("m-2"));
    runTask(restarted->loadProjects());
    EXPECT_EQ(restarted->selectedProject()->id, "prj-a");
    EXPECT_EQ(restarted->selectedMeeting()->id, "m-2");
    EXPECT_TRUE(capture.contains("📋 active projects: 2\n"));
    EXPECT_TRUE(capture.contains("📋 meetings for prj-a: 2 returned\n"));
}

TEST_F(AssignmentModelTest, AStoredProjectThatIsNotActiveIsNotSelectedAndItsKeyStays) {
    defaults.setString("kSelectedProjectId", "prj-x");
    const int writes = defaults.writeCount();
    auto restarted = makeModel();
    runTask(restarted->loadProjects());
    EXPECT_FALSE(restarted->hasSelectedProject());
    EXPECT_EQ(defaults.writeCount(), writes);
    EXPECT_EQ(meetingRequests(), 0u);
}

TEST_F(AssignmentModelTest, ChoicesThatDisappearOnReloadAreCleared) {
    selectA(model);
    model.selectMeeting(QString("m-2"));
    setMeetings("prj-a", R"([{"id":"m-1","project_id":"prj-a","name":"Kickoff"}])");
    runTask(model.loadMeetings());
    EXPECT_FALSE(model.selectedMeeting());
    EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
    EXPECT_EQ(defaults.string("kSelectedProjectId"), QString("prj-a"));

    model.selectMeeting(QString("m-1"));
    setProjects(
        R"([{"id":"prj-b","name":"B","status":"active"},{"id":"prj-a","name":"A","status":"paused"}])");
    runTask(model.loadProjects());
    EXPECT_FALSE(model.selectedProject());
    EXPECT_TRUE(model.meetings().empty());
    EXPECT_FALSE(defaults.string("kSelectedProjectId"));
    EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
}

TEST_F(AssignmentModelTest, PickingTheSameProjectAgainOrAnUnknownMeetingChangesNothingButTheMeeting) {
    selectA(model);
    model.selectMeeting(QString("m-1"));
    const int writes = defaults.writeCount();
    model.selectProject(project("prj-a"));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(defaults.writeCount(), writes);
    EXPECT_EQ(meetingRequests(), 1u);
    model.selectMeeting(QString("nope"));
    EXPECT_FALSE(model.selectedMeeting());
    EXPECT_FALSE(model.pendingMeetingId());
    EXPECT_FALSE(defaults.string("kSelectedMeetingId"));
}

TEST_F(AssignmentModelTest, ACreatedMeetingIsPutFirstAndSelectedUnlessTheProjectChangedMeanwhile) {
    EXPECT_THROW((void)runTask(model.createMeeting("x", QDateTime::currentDateTime(), std::nullopt)),
                 APIError);
    EXPECT_TRUE(server.requests().empty()) << "no project: nothing is sent";
    selectA(model);
    const MeetingResponse created =
        runTask(model.createMeeting("Retro", QDateTime(QDate(2024, 12, 31), QTime(23, 30)), std::nullopt));
    EXPECT_EQ(created.scheduledDate, "2024-12-31");
    ASSERT_EQ(model.meetings().size(), 3u);
    EXPECT_EQ(model.meetings().front().id, "m-new");
    EXPECT_EQ(model.selectedMeeting()->id, "m-new");
    EXPECT_EQ(defaults.string("kSelectedMeetingId"), QString("m-new"));
    EXPECT_EQ(meetingRequests(), 2u); // one load, one creation; no reload
    EXPECT_FALSE(nlohmann::json::parse(server.requests().back().body).contains("end_date"));

    for (const std::optional<ProjectResponse>& next :
         {std::optional(project("prj-b")), std::optional<ProjectResponse>()}) {
        model.selectProject(project("prj-a"));
        ASSERT_TRUE(test::waitUntil([&] { return !model.isLoadingMeetings(); }));
        // The answer is handled by the event loop, so the choice changes before it arrives.
        auto creation = model.createMeeting("Retro", QDateTime::currentDateTime(), std::nullopt);
        model.selectProject(next);
        EXPECT_EQ(runTask(std::move(creation)).id, "m-new");
        ASSERT_TRUE(test::waitUntil([&] { return !model.isLoadingMeetings(); }));
        EXPECT_FALSE(model.selectedMeeting());
        EXPECT_TRUE(model.meetings().empty());
    }
}

TEST_F(AssignmentModelTest, FailedLoadsKeepTheDataAndExplain) {
    selectA(model);
    meetingsStatus = 500;
    LogCapture capture;
    runTask(model.loadMeetings());
    EXPECT_TRUE(capture.contains("📋 meetings fetch failed: APIError.serverError(statusCode: 500"));
    EXPECT_TRUE(model.errorMessage()->startsWith("Could not load meetings: Server error (500): "));
    EXPECT_EQ(model.meetings().size(), 2u);

    // Every API call answers 401 and the re-validation fails too.
    test::CannedHttpServer unauthorized(test::CannedHttpServer::answering(401, ""));
    test::ServerTestRig otherRig(unauthorized.baseURL());
    otherRig.storeToken("expired");
    AssignmentModel other(otherRig.client, defaults);
    runTask(other.loadProjects());
    EXPECT_EQ(other.errorMessage(), QString("Authentication required"));
    EXPECT_FALSE(other.isLoading());
}

TEST_F(AssignmentModelTest, AnEarlierMeetingAnswerIsIgnoredOnceAnotherProjectIsChosen) {
    setMeetings("prj-b", R"([{"id":"m-b","project_id":"prj-b","name":"B meeting"}])");
    runTask(model.loadProjects());
    heldProject = "prj-a";
    model.selectProject(project("prj-a"));
    model.selectProject(project("prj-b"));
    ASSERT_TRUE(test::waitUntil([&] { return model.meetings().size() == 1; }));
    heldProject = "";
    ASSERT_TRUE(test::waitUntil([&] { return meetingRequests() == 2 && !model.isLoadingMeetings(); }));
    test::spinFor(std::chrono::milliseconds(50)); // prj-a's late answer is handled
    ASSERT_EQ(model.meetings().size(), 1u);
    EXPECT_EQ(model.meetings().front().id, "m-b");
    EXPECT_EQ(model.selectedProject()->id, "prj-b");
}

} // namespace
} // namespace veltrane
