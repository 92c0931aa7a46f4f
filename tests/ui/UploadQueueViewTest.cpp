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

UploadJob makeJob(const std::string& id, UploadState state, double createdAt) {
    UploadJob job;
    job.id = id;
    job.filename = id + ".m4a";
    job.projectId = "prj-a";
    job.createdAt = ReferenceDate{createdAt};
    job.state = state;
    return job;
}

std::vector<std::string> ids(const std::vector<UploadJob>& jobs) {
    std::vector<std::string> result;
    for (const UploadJob& job : jobs) {
        result.push_back(job.id);
    }
    return result;
}

TEST(UploadQueueViewRules, VisibleJobsAndCounts) {
    using enum UploadState;
    std::vector<UploadJob> tenSent;
    for (int index = 0; index < 10; ++index) {
        tenSent.push_back(makeJob("c" + std::to_string(index), completed, 100.0 + index));
    }
    const struct {
        std::vector<UploadJob> jobs;
        std::vector<std::string> visible;
        int sent;
        int failed;
    } cases[] = {
        {{}, {}, 0, 0},
        {tenSent, {"c9", "c8", "c7"}, 10, 0},
        // The last three completed in list order, not the newest three; equal times keep list order.
        {{makeJob("c1", completed, 50), makeJob("p", pending, 10), makeJob("c2", completed, 40),
          makeJob("f", failed, 30), makeJob("c3", completed, 60), makeJob("c4", completed, 5),
          makeJob("u", uploading, 30)},
         {"c3", "c2", "f", "u", "p", "c4"},
         4,
         1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ids(UploadQueueView::visibleJobs(c.jobs)), c.visible);
        EXPECT_EQ(UploadQueueView::sentCount(c.jobs), c.sent);
        EXPECT_EQ(UploadQueueView::failedCount(c.jobs), c.failed);
    }
}

class UploadQueueViewTest : public ::testing::Test {
protected:
    // A manager that loads `jobs` from its queue file and, without a server address, sends nothing.
    std::unique_ptr<UploadManager> makeManager(const std::vector<UploadJob>& jobs) {
        const std::filesystem::path folder = appData.path().toStdString();
        EXPECT_TRUE(UploadQueueFile(folder).save(jobs));
        return std::make_unique<UploadManager>(folder, std::make_shared<test::FakeUploadClock>(),
                                               std::make_unique<test::FakeRetryTimer>());
    }
    [[nodiscard]] QList<UploadRow*> rows() const { return view.findChildren<UploadRow*>(); }
    template <typename T> T* in(QWidget* parent, const char* name) {
        return parent->findChild<T*>(QString::fromLatin1(name));
    }
    [[nodiscard]] bool shown(const char* name) const {
        auto* widget = view.findChild<QWidget*>(QString::fromLatin1(name));
        return widget->isVisibleTo(&view);
    }

    QTemporaryDir appData;
    UploadQueueView view{nullptr};
};

TEST_F(UploadQueueViewTest, RowsShowEachStateAndKeepTheirHeightWhileValuesChange) {
    UploadJob uploading = makeJob("u", UploadState::uploading, 4);
    uploading.progress = 0.25;
    uploading.projectName = "Alpha";
    uploading.meetingName = "Kickoff";
    UploadJob failed = makeJob("f", UploadState::failed, 3);
    UploadJob pending = makeJob("p", UploadState::pending, 2);
    pending.lastError = "Server error 500"; // waiting for its next attempt: no error shown
    UploadJob completed = makeJob("c", UploadState::completed, 1);
    completed.filename = "studio7_2024-05-01_10-00-00_0001_a-very-long-meeting-chunk-name-END.m4a";
    view.resize(300, 200);
    view.show();
    view.showJobs({completed, pending, failed, uploading});

    const auto all = rows();
    ASSERT_EQ(all.size(), 4u);
    for (UploadRow* row : all) {
        const UploadJob& job = row->job();
        SCOPED_TRACE(job.id);
        EXPECT_EQ(in<QPushButton>(row, "retry")->isVisibleTo(row), job.id == "f");
        EXPECT_EQ(in<QProgressBar>(row, "progress")->isVisibleTo(row), job.id == "u");
        EXPECT_EQ(in<QLabel>(row, "error")->isVisibleTo(row), job.id == "f");
        EXPECT_EQ(in<QLabel>(row, "context")->isVisibleTo(row), job.id == "u");
    }
    const auto row = [&](const std::string& id) {
        return *std::find_if(all.begin(), all.end(), [&](UploadRow* r) { return r->job().id == id; });
    };
    EXPECT_EQ(in<QLabel>(row("f"), "error")->text(), "Upload failed");
    EXPECT_EQ(in<QLabel>(row("u"), "context")->text(), QString::fromUtf8("Alpha \xE2\x80\xBA Kickoff"));
    const QString shortened = in<QLabel>(row("c"), "filename")->text();
    EXPECT_TRUE(shortened.startsWith("studio7_") && shortened.endsWith("-END.m4a"))
        << shortened.toStdString();
    EXPECT_TRUE(shortened.contains(QChar(0x2026)));
    EXPECT_EQ(in<QLabel>(&view, "sent")->text(), "1 sent");
    EXPECT_EQ(in<QLabel>(&view, "failed")->text(), QString::fromUtf8("\xC2\xB7 1 failed"));
    EXPECT_TRUE(shown("retryAll"));

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
    EXPECT_TRUE(shown("otherProcess"));
    EXPECT_EQ(in<QLabel>(&view, "otherProcess")->text(),
              "Uploads are being sent by another VeltraneRecorder process.");
    EXPECT_EQ(in<QLabel>(&view, "sent")->text(), "0 sent");
    EXPECT_TRUE(rows().empty());

    UploadJob failed = UploadJob::makeNew("f.m4a", "prj-a", std::nullopt, std::nullopt, std::nullopt, 300.0,
                                          ReferenceDate{1});
    failed.state = UploadState::failed;
    auto manager = makeManager({failed});
    view.setManager(manager.get());
    view.show();
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_FALSE(shown("otherProcess"));
    QTest::mouseClick(in<QPushButton>(rows().front(), "retry"), Qt::LeftButton);
    ASSERT_TRUE(test::waitUntil([&] { return manager->jobs().front().state == UploadState::pending; }));
    EXPECT_FALSE(in<QPushButton>(rows().front(), "retry")->isVisibleTo(&view));
    EXPECT_FALSE(shown("failed"));
    EXPECT_FALSE(shown("retryAll"));

    manager.reset();
    EXPECT_TRUE(shown("otherProcess"));
    EXPECT_TRUE(rows().empty());
}

} // namespace
} // namespace veltrane
