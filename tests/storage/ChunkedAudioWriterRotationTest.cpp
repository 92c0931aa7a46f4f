#include "storage/ChunkWriterTestFixture.h"

#include "support/StdoutCapture.h"

#include <algorithm>

namespace veltrane::test {
namespace {

using RotationTest = ChunkWriterTest;

TEST_F(RotationTest, RotatesAtExactlyTheChunkDurationAndTheRotatingBufferStartsTheNextChunk) {
    auto writer = makeWriter();
    StdoutCapture capture;
    const std::int64_t start = 5 * kTimescale;
    const std::int64_t step = kTimescale / 100; // 10 ms
    for (std::int64_t i = 0; i < 6000; ++i) {
        feed(*writer, ticks(start + i * step));
    }
    EXPECT_EQ(factory_->writerCount(), 1u) << "the buffer at 64.990 s must not rotate";

    feed(*writer, ticks(65 * kTimescale));
    ASSERT_EQ(factory_->writerCount(), 2u);

    const auto first = factory_->writer(0);
    const auto second = factory_->writer(1);
    EXPECT_EQ(first->sessionStartTime(), ticks(start));
    ASSERT_EQ(first->appendedBuffers().size(), 6000u);
    EXPECT_EQ(first->appendedBuffers().back()->presentationTime(), ticks(start + 5999 * step));
    EXPECT_TRUE(first->finishRequested());
    EXPECT_TRUE(first->addedInput()->isMarkedFinished());

    EXPECT_EQ(second->sessionStartTime(), ticks(65 * kTimescale));
    ASSERT_EQ(second->appendedBuffers().size(), 1u);
    EXPECT_EQ(second->appendedBuffers().front()->presentationTime(), ticks(65 * kTimescale));

    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();
    const std::string date = localDate(kBaseEpochSeconds);
    const auto lines = capture.lines();
    const std::vector<std::string> expected = {
        "🔖 Chunk 1 open",
        "🔖 closing chunk 1 after 6000 buffers → studio7-" + date + "-chunk-001-START.wav",
        "🔖 Chunk 2 open",
        "✅ Chunk saved: studio7-" + date + "-chunk-001-START.wav",
        "🔖 closing chunk 2 after 1 buffers → studio7-" + date + "-chunk-002-STOP.wav",
        "✅ Chunk saved: studio7-" + date + "-chunk-002-STOP.wav",
    };
    // The completion of chunk 1 may log before or after the owner's next lines.
    EXPECT_EQ(lines.size(), expected.size());
    for (const auto& line : expected) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    }
    EXPECT_EQ(events_->finishedPaths().size(), 2u);
}

TEST_F(RotationTest, ChunkStartIsComparedInDifferentTimescalesWithoutRounding) {
    auto writer = makeWriter();
    feed(*writer, ticks(0));
    // 59.999999 s in microseconds is just short; 60 s in another timescale rotates.
    feed(*writer, MediaTime::make(59'999'999, 1'000'000));
    EXPECT_EQ(factory_->writerCount(), 1u);
    feed(*writer, MediaTime::make(60 * 44100, 44100));
    EXPECT_EQ(factory_->writerCount(), 2u);
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(RotationTest, NonFiniteElapsedTimeNeverRotatesAndTheBufferGoesToTheOpenChunk) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));

    feed(*writer, MediaTime::invalid());
    MediaTime infinite = MediaTime::invalid();
    infinite.flags = MediaTime::Valid | MediaTime::PositiveInfinity;
    feed(*writer, infinite);
    MediaTime indefinite = MediaTime::invalid();
    indefinite.flags = MediaTime::Valid | MediaTime::Indefinite;
    feed(*writer, indefinite);

    EXPECT_EQ(factory_->writerCount(), 1u);
    EXPECT_EQ(factory_->writer(0)->appendedBuffers().size(), 4u);

    // The chunk still rotates on time afterwards.
    feed(*writer, seconds(65.0));
    EXPECT_EQ(factory_->writerCount(), 2u);
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(RotationTest, TimeBeforeTheChunkStartDoesNotRotate) {
    auto writer = makeWriter();
    feed(*writer, seconds(100.0));
    feed(*writer, seconds(1.0));
    feed(*writer, ticks(-1000 * kTimescale));
    EXPECT_EQ(factory_->writerCount(), 1u);
    EXPECT_EQ(factory_->writer(0)->appendedBuffers().size(), 3u);
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(RotationTest, AfterChunk999TheRunRestartsAtOneWithoutEndingTheRecording) {
    clock_ = ManualClock(kBaseEpochSeconds, true); // a new second for every chunk, so names differ
    auto configuration = this->configuration();
    configuration.chunkDuration = 1.0;
    auto writer = makeWriter(configuration);
    StdoutCapture capture;
    for (std::int64_t second = 0; second <= 1000; ++second) {
        feed(*writer, ticks(second * kTimescale));
    }
    ASSERT_EQ(factory_->writerCount(), 1001u) << "the rollover close must not end the recording";
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    const auto paths = events_->finishedPaths();
    ASSERT_EQ(paths.size(), 1001u);
    const auto ends = [](const std::filesystem::path& path, const std::string& suffix) {
        const std::string name = path.filename().string();
        return name.size() >= suffix.size() &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    EXPECT_TRUE(ends(paths[0], "-chunk-001-START.wav")) << paths[0];
    EXPECT_TRUE(ends(paths[1], "-chunk-002.wav")) << paths[1];
    EXPECT_TRUE(ends(paths[997], "-chunk-998.wav")) << paths[997];
    EXPECT_TRUE(ends(paths[998], "-chunk-999-STOP.wav")) << paths[998];
    EXPECT_TRUE(ends(paths[999], "-chunk-001-START.wav")) << paths[999];
    EXPECT_TRUE(ends(paths[1000], "-chunk-002-STOP.wav")) << paths[1000];
    EXPECT_EQ(capture.count("🔖 Chunk 1 open\n"), 2u);
    EXPECT_EQ(capture.count("🔖 Chunk 999 open\n"), 1u);
    EXPECT_EQ(capture.count("🔖 Chunk 1000 open"), 0u);
    EXPECT_EQ(writer->finishedChunkCount(), 1001);
    EXPECT_TRUE(events_->errors().empty());
}

TEST_F(RotationTest, OwnerRotationCloseLeavesTheWriterOpenForTheNextChunk) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    writer->closeCurrentChunk(ChunkClose::Rotation);
    EXPECT_EQ(writer->input(), nullptr);
    feed(*writer, seconds(5.01));
    EXPECT_EQ(factory_->writerCount(), 2u);
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();
    const auto paths = events_->finishedPaths();
    ASSERT_EQ(paths.size(), 2u);
    const std::string date = localDate(kBaseEpochSeconds);
    EXPECT_EQ(paths[0], directory_ / ("studio7-" + date + "-chunk-001-START.wav"));
    EXPECT_EQ(paths[1], directory_ / ("studio7-" + date + "-chunk-002-STOP.wav"));
}

TEST_F(RotationTest, NothingOpensAfterTheFinalClose) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    writer->closeCurrentChunk(ChunkClose::Final);
    const std::size_t attempts = factory_->createAttempts();

    const auto late = writer->rotateIfNeeded(seconds(5.01));
    EXPECT_TRUE(late.has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.01))));
    EXPECT_TRUE(writer->rotateIfNeeded(seconds(500.0)).has_value());
    EXPECT_EQ(writer->input(), nullptr);
    EXPECT_EQ(factory_->createAttempts(), attempts);

    writer->closeCurrentChunk(ChunkClose::Final); // a second stop changes nothing
    factory_->waitForCompletions();
    EXPECT_EQ(events_->finishedPaths().size(), 1u);
}

TEST_F(RotationTest, FinalCloseWithoutAnyChunkStillEndsTheWriter) {
    auto writer = makeWriter();
    writer->closeCurrentChunk(ChunkClose::Final);
    EXPECT_TRUE(writer->rotateIfNeeded(seconds(1.0)).has_value());
    EXPECT_EQ(factory_->createAttempts(), 0u);
    EXPECT_TRUE(filesInDirectory().empty());
}

} // namespace
} // namespace veltrane::test
