// Chunk writer edge cases the recorder runs end to end do not reach: exact rotation boundaries,
// odd timestamps, the 999 wrap, empty chunks, finishes outliving the writer and taken names.
#include "storage/ChunkFileName.h"
#include "storage/ChunkWriterTestFixture.h"

#include <regex>

namespace veltrane::test {
namespace {

using RotationTest = ChunkWriterTest;
using LifetimeTest = ChunkWriterTest;

TEST(ChunkFileNameTest, NumbersMarksDatesAndHiddenNames) {
    const auto at = [](std::int64_t s) {
        return std::chrono::system_clock::time_point(std::chrono::seconds(s));
    };
    const auto base = at(ChunkWriterTest::kBaseEpochSeconds);
    const std::string stamp = ChunkWriterTest::localDate();
    const std::string uuid = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    const std::pair<std::string, std::string> names[] = {
        {ChunkFileName::make("dev1", base, 1, true, "wav").fileName(),
         "dev1-" + stamp + "-chunk-001-START-STOP.wav"},
        {ChunkFileName::make("dev1", base, 42, false, "m4a").fileName(), "dev1-" + stamp + "-chunk-042.m4a"},
        {ChunkFileName::formatLocalDate(
             at(QDateTime(QDate(2025, 3, 14), QTime(21, 5, 9)).toSecsSinceEpoch())),
         "2025-03-14-210509"},
        {ChunkFileName::partialFileName(uuid), "." + uuid + ".partial"},
        {ChunkFileName("dev1-2025-03-14-092653-chunk-003-STOP", "wav").collisionFileName(uuid),
         "dev1-2025-03-14-092653-chunk-003-STOP-dup-3F2504E0.wav"},
    };
    for (const auto& [made, expected] : names) {
        EXPECT_EQ(made, expected);
    }
}

// A chunk closes at exactly its length from its first buffer; earlier and non-finite times never rotate.
TEST_F(RotationTest, OnlyTimeAtLeastTheChunkDurationAfterItsStartRotates) {
    auto writer = makeWriter();
    feed(*writer, seconds(100.0));
    MediaTime infinite = MediaTime::invalid();
    infinite.flags = MediaTime::kValid | MediaTime::kPositiveInfinity;
    MediaTime indefinite = MediaTime::invalid();
    indefinite.flags = MediaTime::kValid | MediaTime::kIndefinite;
    for (const MediaTime& pts : {seconds(159.99), seconds(1.0), seconds(-1000.0), MediaTime::invalid(),
                                 infinite, indefinite, MediaTime::make(159'999'999, 1'000'000)}) {
        feed(*writer, pts);
    }
    EXPECT_EQ(factory_->writerCount(), 1u);
    feed(*writer, MediaTime::make(160 * 44100, 44100));
    ASSERT_EQ(factory_->writerCount(), 2u);
    EXPECT_EQ(factory_->writers()[0]->state().appended.size(), 8u);
    EXPECT_EQ(factory_->writers()[1]->state().sessionStart, MediaTime::make(160 * 44100, 44100));
    finish(*writer);
}

TEST_F(RotationTest, AfterChunk999TheRunRestartsAtOneWithoutEndingTheRecording) {
    auto c = configuration();
    c.chunkDuration = 1.0;
    auto writer = makeWriter(c);
    for (std::int64_t second = 0; second <= 1000; ++second) {
        now_->store(kBaseEpochSeconds + second); // the names differ
        feed(*writer, seconds(static_cast<double>(second)));
    }
    finish(*writer);
    const auto paths = events_->finishedPaths();
    ASSERT_EQ(paths.size(), 1001u);
    const std::pair<std::size_t, const char*> ends[] = {
        {998, "-chunk-999-STOP.wav"}, {999, "-chunk-001-START.wav"}, {1000, "-chunk-002-STOP.wav"}};
    for (const auto& [index, end] : ends) {
        EXPECT_TRUE(paths[index].string().ends_with(end)) << paths[index];
    }
    EXPECT_TRUE(events_->errors().empty());
}

// A chunk that never took a sample is discarded and its number reused; the last real chunk then
// keeps its name rather than becoming the stop.
TEST_F(RotationTest, ChunksWithoutSamplesAreDiscardedAndTheirNumberReused) {
    const FakeWriterBehaviour notReady{.readyForMoreMediaData = false};
    factory_->setBehaviour(notReady);
    auto writer = makeWriter();
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(5.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.0))));
    const auto empty = factory_->writers()[0];
    factory_->setBehaviour({});
    feed(*writer, seconds(65.0));
    EXPECT_TRUE(empty->state().cancelled);
    EXPECT_FALSE(std::filesystem::exists(empty->path));
    feed(*writer, seconds(125.0));
    factory_->setBehaviour(notReady);
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(185.0)).has_value());
    finish(*writer);
    EXPECT_EQ(filesInDirectory(), (std::vector<std::string>{chunkName("001-START"), chunkName("002")}));
}

// Finishes still in flight complete after the writer is gone, in any order, to the handlers of
// the close, and let go of the platform writer; after the final close nothing opens again.
TEST_F(LifetimeTest, ChunksInFlightAreFinishedInAnyOrderAfterTheWriterIsReleased) {
    factory_->setBehaviour({.holdsFinish = true});
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    writer->closeCurrentChunk(ChunkClose::final);
    EXPECT_TRUE(writer->rotateIfNeeded(seconds(500.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(500.0))));
    EXPECT_EQ(factory_->writerCount(), 2u);
    writer->onChunkFinished = nullptr;
    std::weak_ptr<ChunkedAudioWriter> released = writer;
    writer.reset();
    ASSERT_TRUE(released.expired());

    auto fakes = factory_->writers();
    std::weak_ptr<FakeMediaFileWriter> platformWriter = fakes[1];
    factory_->forgetWriters();
    ASSERT_TRUE(fakes[1]->releaseFinish());
    factory_->waitForCompletions();
    ASSERT_TRUE(fakes[0]->releaseFinish());
    fakes.clear();
    factory_->waitForCompletions();
    EXPECT_EQ(events_->finishedPaths(),
              (std::vector<std::filesystem::path>{directory_ / chunkName("002-STOP"),
                                                  directory_ / chunkName("001-START")}));
    EXPECT_TRUE(platformWriter.expired());
}

// A file or a link that points nowhere (which an existence check following links overlooks)
// already has the name: the chunk is kept under a dup name and the other file left alone.
class TakenNameTest : public ChunkWriterTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TakenNameTest, TakenFinalNameKeepsTheChunkUnderADupNameAndLeavesTheOtherFileAlone) {
    const bool danglingLink = GetParam();
    const std::string name = chunkName("001-START-STOP");
    if (danglingLink) {
        std::filesystem::create_symlink(directory_ / "nowhere", directory_ / name);
    } else {
        std::ofstream(directory_ / name) << "existing";
    }
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    finish(*writer);

    const auto events = events_->events();
    ASSERT_EQ(events.size(), 2u);
    ASSERT_TRUE(events[0].error && events[0].error->kind() == ChunkWriterError::Kind::nameCollision)
        << "the collision is reported first";
    EXPECT_EQ(events[0].error->takenName(), name);
    ASSERT_TRUE(events[1].finishedPath.has_value());
    const std::string dupName = events[1].finishedPath->filename().string();
    EXPECT_TRUE(
        std::regex_match(dupName, std::regex(name.substr(0, name.size() - 4) + "-dup-[0-9A-F]{8}\\.wav")))
        << dupName;
    EXPECT_TRUE(danglingLink ? std::filesystem::is_symlink(directory_ / name)
                             : readFile(directory_ / name) == "existing");
    EXPECT_EQ(readFile(directory_ / dupName), "FAKE" + std::string(8, '\x5A'));
    EXPECT_EQ(filesInDirectory().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(FileOrDanglingLink, TakenNameTest, ::testing::Bool());

} // namespace
} // namespace veltrane::test
