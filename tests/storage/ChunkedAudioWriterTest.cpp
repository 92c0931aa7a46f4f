// When chunks rotate, what they are named, and that every chunk in flight is finished whatever
// happens to the writer that opened it.
#include "storage/ChunkFileName.h"
#include "storage/ChunkWriterTestFixture.h"
#include "support/StdoutCapture.h"

#include <regex>
#include <set>

namespace veltrane::test {
namespace {

using RotationTest = ChunkWriterTest;
using NamingTest = ChunkWriterTest;
using LifetimeTest = ChunkWriterTest;

TEST(ChunkFileNameTest, NumbersMarksDatesAndHiddenNames) {
    const auto at = [](std::int64_t s) {
        return std::chrono::system_clock::time_point(std::chrono::seconds(s));
    };
    const auto base = at(ChunkWriterTest::kBaseEpochSeconds);
    const std::string stamp = ChunkWriterTest::localDate();
    const std::string uuid = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    const std::pair<std::string, std::string> names[] = {
        {ChunkFileName::make("dev1", base, 1, false, "wav").fileName(),
         "dev1-" + stamp + "-chunk-001-START.wav"},
        {ChunkFileName::make("dev1", base, 1, true, "wav").fileName(),
         "dev1-" + stamp + "-chunk-001-START-STOP.wav"},
        {ChunkFileName::make("dev1", base, 42, false, "m4a").fileName(), "dev1-" + stamp + "-chunk-042.m4a"},
        {ChunkFileName::make("dev1", base, 999, true, "wav").stem(), "dev1-" + stamp + "-chunk-999-STOP"},
        // 21:05:09 in whatever zone the machine is in: the twenty-four hour clock.
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

TEST_F(RotationTest, RotatesAtExactlyTheChunkDurationAndTheRotatingBufferStartsTheNextChunk) {
    auto writer = makeWriter();
    StdoutCapture capture;
    const std::int64_t start = 5 * kTimescale;
    for (std::int64_t i = 0; i < 6000; ++i) {
        feed(*writer, ticks(start + i * kTimescale / 100)); // 10 ms apart
    }
    EXPECT_EQ(factory_->writerCount(), 1u) << "the buffer at 64.990 s must not rotate";
    feed(*writer, ticks(65 * kTimescale));
    ASSERT_EQ(factory_->writerCount(), 2u);
    const auto first = factory_->writer(0)->state();
    const auto second = factory_->writer(1)->state();
    EXPECT_EQ(first.sessionStart, ticks(start));
    EXPECT_EQ(first.appended.size(), 6000u);
    EXPECT_TRUE(first.finishRequested);
    EXPECT_TRUE(first.input->markedFinished);
    EXPECT_EQ(second.sessionStart, ticks(65 * kTimescale));
    EXPECT_EQ(second.appended.size(), 1u);

    finish(*writer);
    const auto lines = capture.lines();
    // The completion of chunk 1 may log before or after the owner's next lines.
    const std::vector<std::string> expected = {
        "🔖 Chunk 1 open",
        "🔖 closing chunk 1 after 6000 buffers → " + chunkName("001-START"),
        "🔖 Chunk 2 open",
        "✅ Chunk saved: " + chunkName("001-START"),
        "🔖 closing chunk 2 after 1 buffers → " + chunkName("002-STOP"),
        "✅ Chunk saved: " + chunkName("002-STOP"),
    };
    EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()),
              std::multiset<std::string>(expected.begin(), expected.end()));
    EXPECT_EQ(events_->finishedPaths(),
              (std::vector<std::filesystem::path>{directory_ / chunkName("001-START"),
                                                  directory_ / chunkName("002-STOP")}));
}

TEST_F(RotationTest, OnlyTimeAtLeastTheChunkDurationAfterItsStartRotates) {
    auto writer = makeWriter();
    feed(*writer, ticks(100 * kTimescale));
    MediaTime infinite = MediaTime::invalid();
    infinite.flags = MediaTime::kValid | MediaTime::kPositiveInfinity;
    MediaTime indefinite = MediaTime::invalid();
    indefinite.flags = MediaTime::kValid | MediaTime::kIndefinite;
    // Earlier times, times that are not finite, and just short of 60 s in another timescale.
    for (const MediaTime& pts : {seconds(1.0), ticks(-1000 * kTimescale), MediaTime::invalid(), infinite,
                                 indefinite, MediaTime::make(159'999'999, 1'000'000)}) {
        feed(*writer, pts);
    }
    EXPECT_EQ(factory_->writerCount(), 1u);
    feed(*writer, MediaTime::make(160 * 44100, 44100));
    EXPECT_EQ(factory_->writerCount(), 2u);
    finish(*writer);
}

TEST_F(RotationTest, AfterChunk999TheRunRestartsAtOneWithoutEndingTheRecording) {
    auto c = configuration();
    c.chunkDuration = 1.0;
    auto writer = makeWriter(c, ClockSteps::oneSecondPerReading); // names differ
    StdoutCapture capture;
    for (std::int64_t second = 0; second <= 1000; ++second) {
        feed(*writer, ticks(second * kTimescale));
    }
    finish(*writer);
    const auto paths = events_->finishedPaths();
    ASSERT_EQ(paths.size(), 1001u);
    const std::pair<std::size_t, const char*> ends[] = {{0, "-chunk-001-START.wav"},
                                                        {1, "-chunk-002.wav"},
                                                        {998, "-chunk-999-STOP.wav"},
                                                        {999, "-chunk-001-START.wav"},
                                                        {1000, "-chunk-002-STOP.wav"}};
    for (const auto& [index, end] : ends) {
        EXPECT_TRUE(paths[index].string().ends_with(end)) << paths[index];
    }
    EXPECT_EQ(capture.count("🔖 Chunk 1 open\n"), 2u);
    EXPECT_EQ(writer->finishedChunkCount(), 1001);
    EXPECT_TRUE(events_->errors().empty());
}

TEST_F(RotationTest, ARotationCloseKeepsTheWriterOpenAndNothingOpensAfterTheFinalOne) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    writer->closeCurrentChunk(ChunkClose::rotation);
    EXPECT_EQ(writer->input(), nullptr);
    feed(*writer, seconds(5.01));
    finish(*writer);
    EXPECT_TRUE(writer->rotateIfNeeded(seconds(500.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(500.0))));
    finish(*writer); // a second stop changes nothing
    EXPECT_EQ(filesInDirectory(), (std::vector<std::string>{chunkName("001-START"), chunkName("002-STOP")}));
    auto unused = makeWriter();
    unused->closeCurrentChunk(ChunkClose::final);
    EXPECT_TRUE(unused->rotateIfNeeded(seconds(1.0)).has_value());
    EXPECT_EQ(factory_->writerCount(), 2u); // nothing opened after the final close
}

TEST_F(NamingTest, EachChunkIsNamedWithItsOwnOpeningTimeAndItsPartialFileIsHiddenAndFresh) {
    auto c = configuration();
    c.fileType = MediaFileType::appleM4A;
    c.outputSettings = AudioOutputSettings::aacStereo48k();
    c.fileExtension = "m4a";
    auto writer = makeWriter(c);
    std::vector<std::string> expected;
    const char* marks[] = {"001-START", "002", "003-STOP"};
    for (int i = 0; i < 3; ++i) {
        now_->store(kBaseEpochSeconds + 7 + 300 * i);
        feed(*writer, seconds(60.0 * i));
        expected.push_back("studio7-" + localDate(kBaseEpochSeconds + 7 + 300 * i) + "-chunk-" + marks[i] +
                           ".m4a");
    }
    const std::regex partial(R"(\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.partial)");
    std::set<std::filesystem::path> partials;
    for (const auto& fake : factory_->writers()) {
        EXPECT_EQ(fake->path.parent_path(), directory_);
        EXPECT_TRUE(std::regex_match(fake->path.filename().string(), partial)) << fake->path;
        partials.insert(fake->path);
        EXPECT_EQ(fake->fileType, MediaFileType::appleM4A);
        EXPECT_EQ(fake->state().input->settings, AudioOutputSettings::aacStereo48k());
        EXPECT_TRUE(fake->state().input->expectsRealTime);
    }
    EXPECT_EQ(partials.size(), 3u);
    finish(*writer);
    EXPECT_EQ(filesInDirectory(), expected) << "no partial file may be left behind";
    EXPECT_EQ(writer->finishedChunkCount(), 3);
    // The fake writes "FAKE" and then the 8 bytes of the one buffer of each chunk.
    EXPECT_EQ(readFile(directory_ / expected[0]), "FAKE" + std::string(8, '\x5A'));
}

TEST_F(NamingTest, ChunksWithoutSamplesAreDiscardedAndTheirNumberReused) {
    const FakeWriterBehaviour notReady{.readyForMoreMediaData = false};
    factory_->setBehaviour(notReady);
    auto writer = makeWriter();
    StdoutCapture capture;
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(5.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.0))));
    const auto empty = factory_->writer(0);
    factory_->setBehaviour({});
    feed(*writer, seconds(65.0));
    EXPECT_TRUE(empty->state().cancelled);
    EXPECT_FALSE(empty->state().finishRequested);
    EXPECT_FALSE(std::filesystem::exists(empty->path));
    feed(*writer, seconds(125.0));
    // The last chunk gets nothing: the one before it is not renamed to a stop.
    factory_->setBehaviour(notReady);
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(185.0)).has_value());
    finish(*writer);
    EXPECT_EQ(filesInDirectory(), (std::vector<std::string>{chunkName("001-START"), chunkName("002")}));
    EXPECT_EQ(capture.count("⚠️ Chunk closed with no samples; discarded\n"), 2u);
    EXPECT_EQ(capture.count("🔖 Chunk 1 open\n"), 2u);
    EXPECT_EQ(capture.count("STOP"), 0u);
}

TEST_F(LifetimeTest, ChunksInFlightAreFinishedInAnyOrderAfterTheWriterIsReleased) {
    factory_->setBehaviour({.holdsFinish = true});
    auto writer = makeWriter();
    StdoutCapture capture;
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    writer->closeCurrentChunk(ChunkClose::final);
    // Handlers changed after the close do not redirect the finishes in flight.
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
    EXPECT_EQ(capture.count("✅ Chunk saved: " + chunkName("002-STOP") + "\n"), 1u);
    EXPECT_TRUE(platformWriter.expired()) << "the finished platform writer must not be kept alive";
}

TEST_F(LifetimeTest, ReleasingTheWriterClosesItsOpenChunkAsTheLastOrDiscardsItWhenEmpty) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    writer.reset();
    factory_->waitForCompletions();
    EXPECT_EQ(filesInDirectory(), (std::vector<std::string>{chunkName("001-START"), chunkName("002-STOP")}));

    emptyDirectory();
    factory_->setBehaviour({.readyForMoreMediaData = false});
    writer = makeWriter();
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(5.0)).has_value());
    writer.reset();
    factory_->waitForCompletions();
    EXPECT_TRUE(filesInDirectory().empty());
}

// The name may be taken by a file or by a link that points nowhere (which an existence check that
// follows links would overlook); either way the move must not replace it.
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
    StdoutCapture capture;
    feed(*writer, seconds(5.0));
    finish(*writer);

    const auto events = events_->events();
    ASSERT_EQ(events.size(), 2u);
    ASSERT_TRUE(events[0].error.has_value()) << "the collision is reported before the file";
    const WriterError* collision = events[0].error->writerError();
    ASSERT_NE(collision, nullptr);
    EXPECT_EQ(collision->kind(), WriterError::Kind::nameCollision);
    EXPECT_EQ(collision->takenName(), name);
    ASSERT_TRUE(events[1].finishedPath.has_value());
    const std::string dupName = events[1].finishedPath->filename().string();
    EXPECT_TRUE(
        std::regex_match(dupName, std::regex(name.substr(0, name.size() - 4) + "-dup-[0-9A-F]{8}\\.wav")))
        << dupName;
    EXPECT_TRUE(danglingLink ? std::filesystem::is_symlink(directory_ / name)
                             : readFile(directory_ / name) == "existing");
    EXPECT_EQ(readFile(directory_ / dupName), "FAKE" + std::string(8, '\x5A'));
    EXPECT_EQ(filesInDirectory().size(), 2u);
    EXPECT_EQ(capture.count("✅ Chunk saved: "), 0u);
    EXPECT_EQ(writer->finishedChunkCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(FileOrDanglingLink, TakenNameTest, ::testing::Bool());

} // namespace
} // namespace veltrane::test
