#include "ui/AssignmentView.h"

#include "assignment/AssignmentFixture.h"
#include "support/EventLoopWait.h"

#include <QComboBox>
#include <QTest>
#include <QToolButton>

namespace veltrane {
namespace {

class AssignmentViewTest : public test::AssignmentFixture {
protected:
    AssignmentView view{model};
    QComboBox* projects = view.findChild<QComboBox*>("project");
    QComboBox* meetings = view.findChild<QComboBox*>("meeting");
    QToolButton* refresh = view.findChild<QToolButton*>("refresh");
    QToolButton* add = view.findChild<QToolButton*>("add");

    // Enabled state of project picker, refresh, meeting picker, plus; and the shown buttons.
    [[nodiscard]] std::string controls() const {
        std::string state;
        for (const QWidget* widget :
             std::initializer_list<const QWidget*>{projects, refresh, meetings, add}) {
            state += !widget->isVisibleTo(&view) ? '-' : widget->isEnabled() ? 'E' : 'd';
        }
        return state;
    }
};

TEST_F(AssignmentViewTest, PickersFollowTheModelAndItsLoadsAndLockedDisablesEverything) {
    view.show();
    EXPECT_EQ(controls(), "EEdd");
    EXPECT_EQ(meetings->currentText(), "None");

    test::runTask(model.loadProjects());
    ASSERT_EQ(projects->count(), 3);
    EXPECT_EQ(projects->itemText(0), AssignmentView::noProjectOptionText());
    EXPECT_EQ(projects->itemText(2), "Beta");

    heldProject = "prj-a";
    projects->setFocus();
    QTest::keyClick(projects, Qt::Key_Down); // the user picks "Alpha"
    ASSERT_EQ(model.selectedProjectId(), "prj-a");
    EXPECT_EQ(controls(), "EEd-"); // meetings loading: the plus button gives way to the indicator

    heldProject = "";
    ASSERT_TRUE(test::waitUntil([&] { return model.meetings().size() == 2 && !model.isLoadingMeetings(); }));
    EXPECT_EQ(controls(), "EEEE");
    EXPECT_EQ(meetings->itemText(0), "Project only");
    meetings->setFocus();
    QTest::keyClick(meetings, Qt::Key_End);
    EXPECT_EQ(model.selectedMeetingId(), "m-2");

    view.setLocked(true);
    EXPECT_EQ(controls(), "dddd");
    (void)model.loadProjects(); // reloading re-fills the pickers but chooses nothing by itself
    EXPECT_EQ(controls(), "d-dd");
    ASSERT_TRUE(test::waitUntil([&] { return !model.isLoading() && !model.isLoadingMeetings(); }));
    EXPECT_EQ(meetings->currentText(), "Weekly");
    EXPECT_EQ(controls(), "dddd");

    view.setLocked(false);
    projects->setFocus();
    QTest::keyClick(projects, Qt::Key_Home); // "Select…" clears the project, its meeting and list
    EXPECT_FALSE(model.hasSelectedProject());
    EXPECT_FALSE(model.selectedMeeting());
    EXPECT_EQ(meetings->count(), 1);
    EXPECT_EQ(meetings->currentText(), "None");
    EXPECT_EQ(controls(), "EEdd");
    // A meeting is shown with its day.
    MeetingResponse retro;
    retro.name = "Retro";
    retro.scheduledDate = "2026-12-10T09:00:00Z";
    EXPECT_EQ(AssignmentView::meetingOptionText(retro), "Retro — 10 Dec 2026");
}

} // namespace
} // namespace veltrane
