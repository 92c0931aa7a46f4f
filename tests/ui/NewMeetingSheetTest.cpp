#include "ui/NewMeetingSheet.h"

#include "assignment/AssignmentFixture.h"
#include "support/EventLoopWait.h"
#include "ui/AssignmentView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace veltrane {
namespace {

class NewMeetingSheetTest : public test::AssignmentFixture {};

TEST_F(NewMeetingSheetTest, FailedCreateKeepsTheEntriesAndASecondCreateClosesAndSelectsTheMeeting) {
    test::runTask(model.loadProjects());
    model.selectProject(model.projects().front());
    ASSERT_TRUE(test::waitUntil([&] { return model.meetings().size() == 2 && !model.isLoadingMeetings(); }));
    AssignmentView view(model);
    view.show();
    view.findChild<QToolButton*>("add")->click();
    QPointer<NewMeetingSheet> sheet = view.findChild<NewMeetingSheet*>();
    ASSERT_TRUE(sheet && sheet->isVisible());
    auto* name = sheet->findChild<QLineEdit*>("name");
    auto* create = sheet->findChild<QPushButton*>("create");
    auto* multiDay = sheet->findChild<QCheckBox*>("multiDay");
    auto* error = sheet->findChild<QLabel*>("error");
    EXPECT_FALSE(create->isEnabled());
    QTest::keyClicks(name, "   ");
    EXPECT_FALSE(create->isEnabled());
    QTest::keyClicks(name, "Retro  ");
    multiDay->setChecked(true);
    sheet->findChild<QDateEdit*>("endDate")->setDate(QDate::currentDate().addDays(2));
    multiDay->setChecked(false);

    failCreate = true;
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(sheet->isSaving());
    EXPECT_FALSE(name->isEnabled() || create->isEnabled());
    ASSERT_TRUE(test::waitUntil([&] { return !sheet->isSaving(); }));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(error->isVisible());
    EXPECT_FALSE(error->text().isEmpty());
    EXPECT_EQ(name->text(), "   Retro  ");
    EXPECT_TRUE(name->isEnabled() && create->isEnabled());

    failCreate = false;
    create->click();
    ASSERT_TRUE(test::waitUntil([&] { return sheet.isNull(); }));
    ASSERT_TRUE(model.selectedMeeting());
    EXPECT_EQ(model.selectedMeeting()->name, "Retro");
    EXPECT_TRUE(view.findChild<QComboBox*>("meeting")->currentText().startsWith("Retro \u2014 "));
    const auto requests = server.requests();
    const auto sent = nlohmann::json::parse(requests.back().body);
    EXPECT_EQ(sent.at("name"), "Retro");
    EXPECT_FALSE(sent.contains("end_date"));
}

} // namespace
} // namespace veltrane
