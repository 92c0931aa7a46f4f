#include "app/AppEnvironment.h"

#include "app/AppTestRig.h"
#include "server/RunTask.h"
#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::runTask;
using test::waitUntil;

class AppEnvironmentTest : public ::testing::Test {
protected:
    [[nodiscard]] std::unique_ptr<AppEnvironment> launch() const { return rig.launch(); }

    test::AppTestRig rig;
};

TEST_F(AppEnvironmentTest, ProjectsLoadAfterASignInAndAfterARestoredSession) {
    auto env = launch();
    runTask(env->bootstrap());
    EXPECT_EQ(env->auth().state().kind(), AuthState::Kind::unauthenticated);
    EXPECT_TRUE(env->assignment().projects().empty());

    // Signing in during the session fills the project picker without a refresh.
    runTask(env->auth().login("demo@veltrane.test", "demo-password"));
    ASSERT_EQ(env->auth().state().kind(), AuthState::Kind::authenticated);
    ASSERT_TRUE(waitUntil([&] { return env->assignment().projects().size() == 2; }));

    // The next start restores the session and loads them during start-up.
    env = launch();
    runTask(env->bootstrap());
    EXPECT_EQ(env->auth().state().kind(), AuthState::Kind::authenticated);
    EXPECT_EQ(env->assignment().projects().size(), 2u);
}

TEST_F(AppEnvironmentTest, QueueHeldElsewhereIsTakenOverWithTheChunksThatWaited) {
    auto owner = launch();
    auto second = launch();
    ASSERT_NE(owner->uploads(), nullptr);
    EXPECT_EQ(second->uploads(), nullptr);
    EXPECT_FALSE(second->takeUploadQueue());

    second->enqueueChunk({.filename = "rig1-chunk-001-START.m4a",
                          .projectId = "prj-alpha",
                          .projectName = "Alpha Research",
                          .meetingId = std::nullopt,
                          .meetingName = std::nullopt});
    EXPECT_EQ(second->waitingChunkCount(), 1u);

    int changes = 0;
    QObject::connect(second.get(), &AppEnvironment::uploadsChanged, [&] { ++changes; });
    owner->releaseUploadQueue();
    ASSERT_TRUE(second->takeUploadQueue());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(second->waitingChunkCount(), 0u);
    ASSERT_EQ(second->uploads()->jobs().size(), 1u);
    EXPECT_EQ(second->uploads()->jobs().front().contextLabel(), "Alpha Research");
    EXPECT_FALSE(owner->takeUploadQueue());
}

} // namespace
} // namespace veltrane
