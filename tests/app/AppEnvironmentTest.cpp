#include "app/AppEnvironment.h"

#include "app/AppTestRig.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrane {
namespace {

class AppEnvironmentTest : public ::testing::Test {
protected:
    test::AppTestRig rig;
};

TEST_F(AppEnvironmentTest, QueueHeldElsewhereIsTakenOverWithTheChunksThatWaited) {
    auto owner = rig.launch();
    auto second = rig.launch();
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

TEST_F(AppEnvironmentTest, ChunksOfACrashedRunAreRecoveredAndQueuedUnderTheirOwnProject) {
    const std::filesystem::path folder = rig.root() / "chunks";
    std::filesystem::create_directories(folder);
    ProcessIdentity gone = ProcessIdentity::current();
    gone.startTicks += 1;
    const auto leave = [&](const std::string& name, std::int64_t number, std::optional<ChunkFiling> filing) {
        const std::filesystem::path partial = folder / ("." + name + ".partial");
        std::ofstream(partial) << "audio";
        const PartialChunkRecord record{"rig1-2026-01-02-030405-chunk-00" + std::to_string(number), number,
                                        "m4a", std::move(filing), gone};
        ASSERT_FALSE(record.writeBeside(partial));
    };
    leave("A", 1, ChunkFiling{"prj-alpha", "Alpha Research", std::nullopt, std::nullopt});
    leave("B", 2, std::nullopt);

    auto env = rig.launch();
    env->destination().adoptFolder(folder, BookmarkSaving::save, ScopedAccess::optional);
    const auto recovered = env->recoverInterruptedChunks();
    ASSERT_EQ(recovered.size(), 2u);
    EXPECT_EQ(recovered[0].path.filename(), "rig1-2026-01-02-030405-chunk-001-START-STOP.m4a");
    EXPECT_EQ(recovered[1].path.filename(), "rig1-2026-01-02-030405-chunk-002-STOP.m4a");
    // Only the filed one has a place in the queue, under the project it was recorded for.
    ASSERT_EQ(env->uploads()->jobs().size(), 1u);
    EXPECT_EQ(env->uploads()->jobs().front().contextLabel(), "Alpha Research");
}

} // namespace
} // namespace veltrane
