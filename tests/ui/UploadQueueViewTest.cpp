#include "ui/UploadQueueView.h"

#include "support/EventLoopWait.h"
#include "upload/UploadManager.h"
#include "upload/UploadManagerTestSupport.h"
#include "upload/UploadQueueFile.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace veltrane {
namespace {

UploadJob job(const std::string& id, UploadState state, double createdAt = 0) {
    UploadJob made;
    made.id = id;
    made.filename = id + ".m4a";
    made.projectId = "prj-a";
    made.createdAt = ReferenceDate{createdAt};
    made.state = state;
    return made;
}

TEST(UploadQueueViewRules, VisibleJobsAndCounts) {
    using enum UploadState;
    const struct {
        std::vector<UploadJob> jobs;
        std::vector<std::string> visible;
        int sent;
        int failed;
    } cases[] = {
        {{}, {}, 0, 0},
        // The last three completed in list order, not the newest three; equal times keep list order.
        {{job("c1", completed, 50), job("p", pending, 10), job("c2", completed, 40), job("f", failed, 30),
          job("c3", completed, 60), job("c4", completed, 5), job("u", uploading, 30)},
         {"c3", "c2", "f", "u", "p", "c4"},
         4,
         1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> visible;
        for (const UploadJob& shown : UploadQueueView::visibleJobs(c.jobs)) {
            visible.push_back(shown.id);
        }
        EXPECT_EQ(visible, c.visible);
        EXPECT_EQ(UploadQueueView::sentCount(c.jobs), c.sent);
        EXPECT_EQ(UploadQueueView::failedCount(c.jobs), c.failed);
    }
}

class UploadQueueViewTest : public ::testing::Test {
protected:
    [[nodiscard]] UploadRow* row(const std::string& id) const {
        for (UploadRow* candidate : view.findChildren<UploadRow*>()) {
            if (candidate->job().id == id) {
                return candidate;
            }
        }
        return nullptr;
    }
    template <typename T = QLabel> T* in(QWidget* parent, const char* name) const {
        return parent->findChild<T*>(QString::fromLatin1(name));
    }
    [[nodiscard]] bool shown(QWidget* parent, const char* name) const {
        return in<QWidget>(parent, name)->isVisibleTo(&view);
    }

    UploadQueueView view{nullptr};
};

TEST_F(UploadQueueViewTest, RowsShowEachStateAndKeepTheirHeightWhileValuesChange) {
    UploadJob uploading = job("u", UploadState::uploading);
    uploading.progress = 0.25;
    uploading.projectName = "Alpha";
    uploading.meetingName = "Kickoff";
    UploadJob failed = job("f", UploadState::failed);
    UploadJob pending = job("p", UploadState::pending);
    pending.lastError = "Server error 500"; // waiting for its next attempt: no error shown
    UploadJob completed = job("c", UploadState::completed);
    completed.filename = "studio7_2024-05-01_10-00-00_0001_a-very-long-meeting-chunk-name-END.m4a";
    view.resize(300, 200);
    view.show();
    QPushButton below(&view); // made before the rows, shown below them
    view.showJobs({completed, pending, failed, uploading});
    bool retryBeforeBelow = false; // for Tab, the rows come where they show
    for (QWidget* widget = &view; widget != &below; widget = widget->nextInFocusChain()) {
        retryBeforeBelow |= widget == in<QPushButton>(row("f"), "retry");
    }
    EXPECT_TRUE(retryBeforeBelow);

    ASSERT_EQ(view.findChildren<UploadRow*>().size(), 4);
    for (const char* id : {"u", "f", "p", "c"}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(shown(row(id), "retry"), id == std::string("f"));
        EXPECT_EQ(shown(row(id), "error"), id == std::string("f"));
        EXPECT_EQ(shown(row(id), "progress"), id == std::string("u"));
        EXPECT_EQ(shown(row(id), "context"), id == std::string("u"));
    }
    EXPECT_EQ(in(row("f"), "error")->text(), "Upload failed");
    EXPECT_EQ(in(row("u"), "context")->text(), QString::fromUtf8("Alpha \xE2\x80\xBA Kickoff"));
    const QString shortened = in(row("c"), "filename")->text();
    EXPECT_TRUE(shortened.startsWith("studio7_") && shortened.endsWith("-END.m4a") &&
                shortened.contains(QChar(0x2026)))
        << shortened.toStdString();
    EXPECT_EQ(in(&view, "sent")->text(), "1 sent");
    EXPECT_EQ(in(&view, "failed")->text(), QString::fromUtf8("\xC2\xB7 1 failed"));
    EXPECT_TRUE(shown(&view, "retryAll"));

    const int height = view.sizeHint().height();
    const int uploadingRowHeight = row("u")->height();
    uploading.progress = 0.9;
    failed.lastError = "A much longer error text that certainly does not fit on a single line of this panel";
    view.showJobs({completed, pending, failed, uploading});
    EXPECT_EQ(view.sizeHint().height(), height);
    EXPECT_EQ(row("u")->height(), uploadingRowHeight);
    EXPECT_EQ(in<QProgressBar>(row("u"), "progress")->value(), 900);
}

TEST_F(UploadQueueViewTest, RetryMakesTheFailedJobPendingAndWithoutAManagerTheOtherProcessIsNamed) {
    EXPECT_TRUE(shown(&view, "otherProcess"));
    EXPECT_EQ(in(&view, "otherProcess")->text(),
              "Uploads are being sent by another VeltraneRecorder process.");
    EXPECT_EQ(in(&view, "sent")->text(), "0 sent");

    // A manager that loads the failed job from its queue file and, without a server address, sends nothing.
    QTemporaryDir appData;
    UploadJob failed = UploadJob::makeNew("f.m4a", "prj-a", std::nullopt, std::nullopt, std::nullopt, 300.0,
                                          ReferenceDate{1});
    failed.state = UploadState::failed;
    ASSERT_TRUE(UploadQueueFile(appData.path().toStdString()).save({failed}));
    auto manager = std::make_unique<UploadManager>(appData.path().toStdString(),
                                                   std::make_shared<test::FakeUploadClock>(),
                                                   std::make_unique<test::FakeRetryTimer>());
    view.setManager(manager.get());
    view.show();
    ASSERT_NE(row(failed.id), nullptr);
    EXPECT_FALSE(shown(&view, "otherProcess"));
    QTest::mouseClick(in<QPushButton>(row(failed.id), "retry"), Qt::LeftButton);
    ASSERT_TRUE(test::waitUntil([&] { return manager->jobs().front().state == UploadState::pending; }));
    EXPECT_FALSE(shown(row(failed.id), "retry"));
    EXPECT_FALSE(shown(&view, "failed"));
    EXPECT_FALSE(shown(&view, "retryAll"));

    manager.reset();
    EXPECT_TRUE(shown(&view, "otherProcess"));
    EXPECT_TRUE(view.findChildren<UploadRow*>().empty());
}

} // namespace
} // namespace veltrane
