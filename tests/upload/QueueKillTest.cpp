#include "upload/UploadJob.h"
#include "upload/UploadQueueFile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <random>

namespace veltrane {
namespace {

// A process killed with SIGKILL in the middle of its save loop always leaves a queue file that
// decodes completely: the old or the new list, never a torn one.
TEST(UploadQueueKill, FileAlwaysDecodesAfterKillMidLoop) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pauseMs(1, 60);
    for (int round = 0; round < 6; ++round) {
        QTemporaryDir temp;
        QProcess loop;
        loop.start(VELTRANE_QUEUE_SAVE_LOOP, {temp.path()});
        ASSERT_TRUE(loop.waitForStarted(20000));
        ASSERT_TRUE(loop.waitForReadyRead(20000));
        ASSERT_EQ(loop.readLine().trimmed(), "ready");
        QThread::msleep(static_cast<unsigned long>(pauseMs(random)));
        loop.kill(); // SIGKILL
        ASSERT_TRUE(loop.waitForFinished(20000));
        EXPECT_EQ(loop.exitStatus(), QProcess::CrashExit) << "killed while still saving";
        const UploadQueueFile file{temp.path().toStdString()};
        const auto jobs = file.load();
        ASSERT_TRUE(jobs) << "round " << round;
        EXPECT_FALSE(jobs->empty());
    }
}

} // namespace
} // namespace veltrane
