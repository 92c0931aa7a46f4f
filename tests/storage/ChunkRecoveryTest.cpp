// The record kept beside each open chunk, and recovery's edge cases (ordinary recovery runs end
// to end and in the application tests).
#include "storage/ChunkRecovery.h"

#include "storage/ChunkFileName.h"
#include "storage/ChunkWriterTestFixture.h"

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

class ChunkRecoveryTest : public ChunkWriterTest {
protected:
    // This process's number with another start: a process that has ended.
    static ProcessIdentity goneProcess() {
        ProcessIdentity identity = ProcessIdentity::current();
        identity.startTicks += 1;
        return identity;
    }
};

TEST_F(ChunkRecoveryTest, PartialsOfDeadProcessesGetTheirLastChunkNameOrAreKeptAside) {
    struct Case {
        const char* name;
        bool ownerRunning;
        std::optional<ChunkFiling> filing;
        FiledChunks filedChunks;
        FakeWriterBehaviour repair;
        std::string expectedFile; // "" when nothing may remain, "." when the partial is left alone
    };
    const std::string stem = "studio7-2025-03-14-092653-chunk-003";
    const ChunkFiling filing{"p1", "Project", "m1", std::nullopt};
    using enum FiledChunks;
    const Case cases[] = {{"name taken", false, filing, recover, {}, stem + "-STOP-dup-"},
                          {"no audio", false, std::nullopt, recover, {.repairFindsAudio = false}, ""},
                          {"unrepairable",
                           false,
                           std::nullopt,
                           recover,
                           {.repairError = PlatformError{"FFmpeg", -1, "broken", nullptr}},
                           stem + "-unrecoverable-"},
                          {"owner still running", true, std::nullopt, recover, {}, "."},
                          {"filed, no queue here", false, filing, leave, {}, "."}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyDirectory();
        factory_->setBehaviour(c.repair);
        std::ofstream(directory_ / (stem + "-STOP.wav")) << "earlier";
        const fs::path partial =
            directory_ / ChunkFileName::partialFileName("0A1B2C3D-0000-4000-8000-000000000001");
        std::ofstream(partial) << "audio";
        const PartialChunkRecord record{stem, 3, "wav", c.filing,
                                        c.ownerRunning ? ProcessIdentity::current() : goneProcess()};
        ASSERT_FALSE(record.writeBeside(partial));

        const auto recovered = recoverInterruptedChunks(directory_, *factory_, c.filedChunks);
        const bool isRecovered = c.expectedFile.ends_with("-dup-");
        ASSERT_EQ(recovered.size(), isRecovered ? 1u : 0u);
        if (isRecovered) {
            EXPECT_EQ(recovered[0].filing, c.filing);
            EXPECT_TRUE(recovered[0].path.filename().string().starts_with(c.expectedFile));
        }
        const bool leftAlone = c.expectedFile == ".";
        EXPECT_EQ(fs::exists(partial), leftAlone);
        EXPECT_EQ(fs::exists(PartialChunkRecord::pathBeside(partial)), leftAlone);
        auto files = filesInDirectory();
        std::erase(files, stem + "-STOP.wav");
        EXPECT_EQ(files.size(), c.expectedFile.empty() ? 0u : leftAlone ? 2u : 1u);
        EXPECT_TRUE(leftAlone || c.expectedFile.empty() || files[0].starts_with(c.expectedFile)) << files[0];
    }
}

TEST_F(ChunkRecoveryTest, RecordsAreReadBackAndUnsafeOnesRefused) {
    const PartialChunkRecord record{"studio7-2025-03-14-092653-chunk-004", 4, "m4a",
                                    ChunkFiling{"p", std::nullopt, "m", "Standup"},
                                    ProcessIdentity::current()};
    const auto read = PartialChunkRecord::fromJson(record.toJson());
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->stem, record.stem);
    EXPECT_EQ(read->filing, record.filing);
    EXPECT_TRUE(read->owner.isRunning());
    EXPECT_FALSE(goneProcess().isRunning());
    for (const char* json :
         {R"({"stem":"../x","chunkNumber":1,"extension":"wav","owner":{"processID":1}})",
          R"({"stem":".hidden","chunkNumber":1,"extension":"wav","owner":{"processID":1}})",
          R"({"stem":"a","chunkNumber":0,"extension":"wav","owner":{"processID":1}})",
          R"({"stem":"a","chunkNumber":1,"extension":"exe","owner":{"processID":1}})", "[1,2"}) {
        EXPECT_FALSE(PartialChunkRecord::fromJson(json).has_value()) << json;
    }
}

// The record follows the filing set while the chunk is open and goes with a normal finish.
TEST_F(ChunkRecoveryTest, TheOpenChunkKeepsARecordThatFollowsItsFilingAndGoesWithIt) {
    auto writer = makeWriter();
    feed(*writer, seconds(0));
    const fs::path beside = PartialChunkRecord::pathBeside(factory_->writers()[0]->path);
    const auto recordOnDisk = [&] {
        return PartialChunkRecord::fromJson(QByteArray::fromStdString(readFile(beside)));
    };
    ASSERT_TRUE(recordOnDisk().has_value());
    EXPECT_EQ(recordOnDisk()->stem, "studio7-" + localDate() + "-chunk-001");
    EXPECT_EQ(recordOnDisk()->filing, std::nullopt);
    writer->setFiling(ChunkFiling{"p2", "Second", std::nullopt, std::nullopt});
    EXPECT_EQ(recordOnDisk()->filing->projectId, "p2");
    finish(*writer);
    EXPECT_EQ(filesInDirectory(), std::vector<std::string>{chunkName("001-START-STOP")});
}

// Audio dropped while the encoder lags, or by the owner before it reached the writer, is paid
// back in silence so the chunk keeps its length.
TEST_F(ChunkRecoveryTest, AudioDroppedWhileTheEncoderLagsIsPaidBackInSilence) {
    auto writer = makeWriter();
    feed(*writer, seconds(0));
    const auto media = factory_->writers()[0];
    media->change([](auto& s) { s.behaviour.readyForMoreMediaData = false; });
    EXPECT_FALSE(writer->append(bufferAt(seconds(0.01))));
    writer->noteDroppedAudio(0.01);
    media->change([](auto& s) { s.behaviour.readyForMoreMediaData = true; });
    ASSERT_TRUE(writer->append(bufferAt(seconds(0.03))));
    EXPECT_TRUE(events_->errors().empty());
    std::int64_t frames = 0;
    for (const auto& buffer : media->state().appended) {
        frames += buffer->numSamples();
    }
    EXPECT_EQ(frames, 4 * 480);
}

} // namespace
} // namespace veltrane::test
