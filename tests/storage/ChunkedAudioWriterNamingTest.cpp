#include "storage/ChunkWriterTestFixture.h"

#include "storage/ChunkFileName.h"
#include "support/StdoutCapture.h"

#include <QDateTime>
#include <fstream>
#include <regex>
#include <set>

namespace veltrane::test {
namespace {

using NamingTest = ChunkWriterTest;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ChunkFileNameTest, MarksFollowTheChunkNumberAndTheFinalFlag) {
    EXPECT_EQ(ChunkFileName::mark(1, false), "-START");
    EXPECT_EQ(ChunkFileName::mark(1, true), "-START-STOP");
    EXPECT_EQ(ChunkFileName::mark(2, false), "");
    EXPECT_EQ(ChunkFileName::mark(2, true), "-STOP");
    EXPECT_EQ(ChunkFileName::mark(999, true), "-STOP");
}

TEST(ChunkFileNameTest, NumbersAreZeroPaddedToThreeDigits) {
    const auto date =
        std::chrono::system_clock::time_point(std::chrono::seconds(ChunkWriterTest::kBaseEpochSeconds));
    const std::string stamp = ChunkWriterTest::localDate(ChunkWriterTest::kBaseEpochSeconds);
    EXPECT_EQ(ChunkFileName::make("dev1", date, 42, false, "m4a").fileName(),
              "dev1-" + stamp + "-chunk-042.m4a");
    EXPECT_EQ(ChunkFileName::make("dev1", date, 999, false, "wav").fileName(),
              "dev1-" + stamp + "-chunk-999.wav");
    EXPECT_EQ(ChunkFileName::make("dev1", date, 1, true, "wav").stem(),
              "dev1-" + stamp + "-chunk-001-START-STOP");
}

TEST(ChunkFileNameTest, LocalDateUsesTheTwentyFourHourClock) {
    // 21:05:09 in whatever zone the machine is in: pick the epoch second that gives it.
    const QDateTime evening(QDate(2025, 3, 14), QTime(21, 5, 9));
    const auto epochSeconds = evening.toSecsSinceEpoch();
    const auto date = std::chrono::system_clock::time_point(std::chrono::seconds(epochSeconds));
    EXPECT_EQ(ChunkFileName::formatLocalDate(date), "2025-03-14-210509");
}

TEST(ChunkFileNameTest, PartialAndCollisionNames) {
    const std::string uuid = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    EXPECT_EQ(ChunkFileName::partialFileName(uuid), ".3F2504E0-4F89-41D3-9A0C-0305E82C3301.partial");
    const ChunkFileName name("dev1-2025-03-14-092653-chunk-003-STOP", "wav");
    EXPECT_EQ(name.collisionFileName(uuid), "dev1-2025-03-14-092653-chunk-003-STOP-dup-3F2504E0.wav");
}

TEST_F(NamingTest, EachChunkIsNamedWithItsOwnOpeningTimeNumberAndMark) {
    auto writer = makeWriter(); // constructed at the base time
    clock_.set(kBaseEpochSeconds + 7);
    feed(*writer, seconds(0.0));
    clock_.set(kBaseEpochSeconds + 307);
    feed(*writer, seconds(60.0));
    clock_.set(kBaseEpochSeconds + 607);
    feed(*writer, seconds(120.0));
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    const std::vector<std::string> expected = {
        "studio7-" + localDate(kBaseEpochSeconds + 7) + "-chunk-001-START.wav",
        "studio7-" + localDate(kBaseEpochSeconds + 307) + "-chunk-002.wav",
        "studio7-" + localDate(kBaseEpochSeconds + 607) + "-chunk-003-STOP.wav",
    };
    const auto paths = events_->finishedPaths();
    ASSERT_EQ(paths.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(paths[i], directory_ / expected[i]);
    }
    EXPECT_EQ(filesInDirectory(), expected) << "no partial file may be left behind";
    EXPECT_EQ(writer->finishedChunkCount(), 3);
    EXPECT_TRUE(events_->errors().empty());
    // The fake writes "FAKE" and then the 8 bytes of the one buffer of each chunk.
    EXPECT_EQ(readFile(paths[0]), "FAKE" + std::string(8, '\x5A'));
}

TEST_F(NamingTest, PartialFilesAreHiddenFreshAndHandedTheConfiguredSettings) {
    auto configuration = this->configuration();
    configuration.fileType = MediaFileType::AppleM4A;
    configuration.outputSettings = AudioOutputSettings::aacStereo48k();
    configuration.fileExtension = "m4a";
    auto writer = makeWriter(configuration);
    feed(*writer, seconds(0.0));
    feed(*writer, seconds(60.0));
    feed(*writer, seconds(120.0));

    const std::regex partialPattern(
        R"(\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.partial)");
    std::set<std::string> partialNames;
    for (const auto& fake : factory_->writers()) {
        EXPECT_EQ(fake->path().parent_path(), directory_);
        const std::string name = fake->path().filename().string();
        EXPECT_TRUE(std::regex_match(name, partialPattern)) << name;
        partialNames.insert(name);
        EXPECT_EQ(fake->fileType(), MediaFileType::AppleM4A);
        ASSERT_NE(fake->addedInput(), nullptr);
        EXPECT_EQ(fake->addedInput()->outputSettings(), AudioOutputSettings::aacStereo48k());
        EXPECT_TRUE(fake->addedInput()->expectsMediaDataInRealTime());
    }
    EXPECT_EQ(partialNames.size(), 3u);
    EXPECT_EQ(writer->input(), factory_->writer(2)->addedInput());

    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();
    for (const auto& path : events_->finishedPaths()) {
        EXPECT_EQ(path.extension(), ".m4a");
    }
}

TEST_F(NamingTest, SingleChunkRecordingIsMarkedStartStop) {
    auto writer = makeWriter();
    StdoutCapture capture;
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(5.01));
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    const std::string name = "studio7-" + localDate(kBaseEpochSeconds) + "-chunk-001-START-STOP.wav";
    EXPECT_EQ(events_->finishedPaths(), std::vector<std::filesystem::path>{directory_ / name});
    EXPECT_EQ(filesInDirectory(), std::vector<std::string>{name});
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"🔖 Chunk 1 open", "🔖 closing chunk 1 after 2 buffers → " + name,
                                        "✅ Chunk saved: " + name}));
}

TEST_F(NamingTest, EmptyFirstChunkIsDiscardedAndItsNumberReused) {
    FakeWriterBehaviour notReady;
    notReady.readyForMoreMediaData = false;
    factory_->setBehaviour(notReady);
    auto writer = makeWriter();
    StdoutCapture capture;
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(5.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.0))));
    const auto emptyChunk = factory_->writer(0);
    ASSERT_TRUE(std::filesystem::exists(emptyChunk->path()));

    factory_->setBehaviour({});
    feed(*writer, seconds(65.0));
    EXPECT_TRUE(emptyChunk->wasCancelled());
    EXPECT_FALSE(emptyChunk->finishRequested());
    EXPECT_FALSE(std::filesystem::exists(emptyChunk->path()));

    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();
    const std::string name = "studio7-" + localDate(kBaseEpochSeconds) + "-chunk-001-START-STOP.wav";
    EXPECT_EQ(events_->finishedPaths(), std::vector<std::filesystem::path>{directory_ / name});
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"🔖 Chunk 1 open", "⚠️ Chunk closed with no samples; discarded",
                                        "🔖 Chunk 1 open", "🔖 closing chunk 1 after 1 buffers → " + name,
                                        "✅ Chunk saved: " + name}));
}

TEST_F(NamingTest, StoppingDuringAnEmptyChunkLeavesNoStopFile) {
    auto writer = makeWriter();
    StdoutCapture capture;
    feed(*writer, seconds(5.0));
    feed(*writer, seconds(65.0));
    // Chunk 2 accepted the rotating buffer; chunk 3 gets nothing.
    FakeWriterBehaviour notReady;
    notReady.readyForMoreMediaData = false;
    factory_->setBehaviour(notReady);
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(125.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(125.0))));
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    const std::string date = localDate(kBaseEpochSeconds);
    EXPECT_EQ(filesInDirectory(), (std::vector<std::string>{"studio7-" + date + "-chunk-001-START.wav",
                                                            "studio7-" + date + "-chunk-002.wav"}));
    EXPECT_EQ(capture.count("STOP"), 0u);
    EXPECT_EQ(capture.count("⚠️ Chunk closed with no samples; discarded\n"), 1u);
    EXPECT_EQ(events_->finishedPaths().size(), 2u);
}

// The name may be taken by a file or by a link that points nowhere (which an existence check
// that follows links would overlook); either way the move must not replace it.
class TakenNameTest : public NamingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TakenNameTest, TakenFinalNameKeepsTheChunkUnderADupNameAndLeavesTheOtherFileAlone) {
    const bool danglingLink = GetParam();
    const std::string name = "studio7-" + localDate(kBaseEpochSeconds) + "-chunk-001-START-STOP.wav";
    if (danglingLink) {
        std::filesystem::create_symlink(directory_ / "nowhere", directory_ / name);
    } else {
        std::ofstream existing(directory_ / name);
        existing << "existing";
    }
    auto writer = makeWriter();
    StdoutCapture capture;
    feed(*writer, seconds(5.0));
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    const auto events = events_->events();
    ASSERT_EQ(events.size(), 2u);
    ASSERT_TRUE(events[0].error.has_value()) << "the collision is reported before the file";
    const WriterError* collision = events[0].error->writerError();
    ASSERT_NE(collision, nullptr);
    EXPECT_EQ(collision->kind(), WriterError::Kind::NameCollision);
    EXPECT_EQ(collision->takenName(), name);
    EXPECT_EQ(events[0].error->localizedDescription(),
              "A file named " + name + " already exists; the chunk was kept under a modified name.");

    ASSERT_TRUE(events[1].finishedPath.has_value());
    const std::string stem = name.substr(0, name.size() - 4);
    const std::regex dupPattern(std::regex_replace(stem, std::regex("-"), "\\-") +
                                R"(-dup-[0-9A-F]{8}\.wav)");
    const std::string dupName = events[1].finishedPath->filename().string();
    EXPECT_TRUE(std::regex_match(dupName, dupPattern)) << dupName;
    EXPECT_EQ(events[1].finishedPath->parent_path(), directory_);

    if (danglingLink) {
        EXPECT_TRUE(std::filesystem::is_symlink(directory_ / name));
    } else {
        EXPECT_EQ(readFile(directory_ / name), "existing");
    }
    EXPECT_EQ(readFile(directory_ / dupName), "FAKE" + std::string(8, '\x5A'));
    EXPECT_EQ(filesInDirectory().size(), 2u);
    EXPECT_EQ(capture.count("✅ Chunk saved: "), 0u);
    EXPECT_EQ(writer->finishedChunkCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(FileOrDanglingLink, TakenNameTest, ::testing::Bool());

} // namespace
} // namespace veltrane::test
