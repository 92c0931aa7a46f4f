#include "app/AppEnvironment.h"

#include "app/AppTestRig.h"
#include "recording/AudioRecorder.h"
#include "support/EventLoopWait.h"

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

    second->fileChunk("rig1-chunk-001-START.m4a",
                      {"prj-alpha", "Alpha Research", std::nullopt, std::nullopt});
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

TEST_F(AppEnvironmentTest, EveryChunkIsFiledOnceBeforeTheStopEndsUnlessTheGateKeepsItBack) {
    auto owner = rig.launch();
    auto env = rig.launch(); // without the queue: every filing shows as a waiting chunk
    auto content = std::make_shared<CaptureSources>();
    content->outputs.push_back({.outputID = 7, .name = "virt_out", .description = "Speakers"});
    AudioRecorder recorder(rig.capture, rig.writers, rig.defaults);
    recorder.setSelectedSystemSource(SystemSource::listFrom(content).at(0));
    recorder.setChunkFiling(ChunkFiling{"prj-alpha", std::nullopt, std::nullopt, std::nullopt});
    bool gateOpen = false;
    int gateSaw = 0;
    env->fileChunksOf(recorder, [&](const std::filesystem::path&) { return ++gateSaw, gateOpen; });
    for (const bool open : {false, true}) {
        gateOpen = open;
        recorder.startRecording(rig.root(), QStringLiteral("rig1"), RecordingFormat::wav, 300);
        ASSERT_TRUE(test::waitUntil([&] { return recorder.isRecording(); }));
        rig.capture->lastStream->deliver(0, 4800, 0.25f);
        recorder.stopRecording();
        std::optional<std::size_t> filedWhenStopped;
        recorder.whenStopped([&] { filedWhenStopped = env->waitingChunkCount(); });
        ASSERT_TRUE(test::waitUntil([&] { return filedWhenStopped.has_value(); }));
        EXPECT_EQ(*filedWhenStopped, open ? 1u : 0u);
    }
    EXPECT_EQ(gateSaw, 2);
}

} // namespace
} // namespace veltrane
