#include "storage/ChunkWriterTestFixture.h"

#include "support/StdoutCapture.h"

namespace veltrane::test {
namespace {

using LifetimeTest = ChunkWriterTest;

FakeWriterBehaviour holdingFinish() {
    FakeWriterBehaviour behaviour;
    behaviour.holdsFinish = true;
    return behaviour;
}

TEST_F(LifetimeTest, FinalChunkIsSavedAndReportedAfterTheWriterIsReleased) {
    factory_->setBehaviour(holdingFinish());
    auto writer = makeWriter();
    StdoutCapture capture;
    feed(*writer, seconds(5.0));
    writer->closeCurrentChunk(ChunkClose::Final);
    std::weak_ptr<ChunkedAudioWriter> released = writer;
    writer.reset();
    ASSERT_TRUE(released.expired());

    auto fake = factory_->writer(0);
    ASSERT_TRUE(fake->isFinishHeld());
    std::weak_ptr<FakeMediaFileWriter> platformWriter = fake;
    factory_->forgetWriters();
    ASSERT_TRUE(fake->releaseFinish());
    fake.reset();
    factory_->waitForCompletions();

    const std::string name = "studio7-" + localDate(kBaseEpochSeconds) + "-chunk-001-START-STOP.wav";
    EXPECT_EQ(events_->finishedPaths(), std::vector<std::filesystem::path>{directory_ / name});
    EXPECT_TRUE(std::filesystem::exists(directory_ / name));
    EXPECT_EQ(capture.count("✅ Chunk saved: " + name + "\n"), 1u);
    EXPECT_TRUE(platformWriter.expired()) << "the finished platform writer must not be kept alive";
}

TEST_F(LifetimeTest, EveryChunkInFlightIsFinishedAfterTheWriterIsReleased) {
    factory_->setBehaviour(holdingFinish());
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    writer->closeCurrentChunk(ChunkClose::Final);
    writer.reset();

    for (const auto& fake : factory_->writers()) {
        EXPECT_TRUE(fake->releaseFinish());
    }
    factory_->waitForCompletions();
    const std::string date = localDate(kBaseEpochSeconds);
    EXPECT_EQ(events_->finishedPaths(),
              (std::vector<std::filesystem::path>{directory_ / ("studio7-" + date + "-chunk-001-START.wav"),
                                                  directory_ / ("studio7-" + date + "-chunk-002-STOP.wav")}));
}

TEST_F(LifetimeTest, ReleasingTheWriterWithAChunkOpenClosesItAsTheLastChunk) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    writer.reset();
    factory_->waitForCompletions();
    const std::string date = localDate(kBaseEpochSeconds);
    EXPECT_EQ(filesInDirectory(), (std::vector<std::string>{"studio7-" + date + "-chunk-001-START.wav",
                                                            "studio7-" + date + "-chunk-002-STOP.wav"}));
}

TEST_F(LifetimeTest, ReleasingTheWriterWithAnEmptyChunkOpenLeavesNoPartialFile) {
    FakeWriterBehaviour notReady;
    notReady.readyForMoreMediaData = false;
    factory_->setBehaviour(notReady);
    auto writer = makeWriter();
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(5.0)).has_value());
    writer.reset();
    factory_->waitForCompletions();
    EXPECT_TRUE(filesInDirectory().empty());
    EXPECT_TRUE(events_->events().empty());
}

TEST_F(LifetimeTest, FinalisationsCompleteInWhateverOrderThePlatformReports) {
    factory_->setBehaviour(holdingFinish());
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    writer->closeCurrentChunk(ChunkClose::Final);

    ASSERT_TRUE(factory_->writer(1)->releaseFinish());
    factory_->waitForCompletions();
    EXPECT_EQ(writer->finishedChunkCount(), 1);
    ASSERT_TRUE(factory_->writer(0)->releaseFinish());
    factory_->waitForCompletions();
    EXPECT_EQ(writer->finishedChunkCount(), 2);

    const std::string date = localDate(kBaseEpochSeconds);
    EXPECT_EQ(events_->finishedPaths(), (std::vector<std::filesystem::path>{
                                            directory_ / ("studio7-" + date + "-chunk-002-STOP.wav"),
                                            directory_ / ("studio7-" + date + "-chunk-001-START.wav")}));
}

TEST_F(LifetimeTest, CallbacksAssignedBeforeTheChunkIsClosedAreTheOnesCalled) {
    factory_->setBehaviour(holdingFinish());
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    writer->closeCurrentChunk(ChunkClose::Final);
    // Changing the handlers after the close does not redirect the finalisation in flight.
    writer->onChunkFinished = nullptr;
    writer->onError = nullptr;
    ASSERT_TRUE(factory_->writer(0)->releaseFinish());
    factory_->waitForCompletions();
    EXPECT_EQ(events_->finishedPaths().size(), 1u);
}

} // namespace
} // namespace veltrane::test
