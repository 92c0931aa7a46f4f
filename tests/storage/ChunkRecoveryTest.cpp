// Chunks whose process died while writing them: the record kept beside each open chunk, and
// what recovery at the next start makes of the files left behind.
#include "storage/ChunkRecovery.h"

#include "storage/ChunkFileName.h"
#include "storage/ChunkWriterTestFixture.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrane::test {
namespace {

namespace fs = std::filesystem;

class ChunkRecoveryTest : public ChunkWriterTest {
protected:
    // A process that has ended: this one's number, but a different start.
    static ProcessIdentity goneProcess() {
        ProcessIdentity identity = ProcessIdentity::current();
        identity.startTicks += 1;
        return identity;
    }

    // A partial file with its record, as a dead (or running) process leaves them.
    fs::path leavePartial(const std::string& uuid, std::int64_t chunkNumber,
                          std::optional<ChunkFiling> filing, ProcessIdentity owner) {
        const fs::path partial = directory_ / ChunkFileName::partialFileName(uuid);
        std::ofstream(partial) << "audio";
        const PartialChunkRecord record{.stem = "studio7-2025-03-14-092653-chunk-00" +
                                                std::to_string(chunkNumber),
                                        .chunkNumber = chunkNumber,
                                        .extension = "wav",
                                        .filing = std::move(filing),
                                        .owner = std::move(owner)};
        EXPECT_FALSE(record.writeBeside(partial));
        return partial;
    }
};

TEST_F(ChunkRecoveryTest, PartialsOfDeadProcessesGetTheirLastChunkNameOrAreKeptAside) {
    const ChunkFiling filing{"p1", "Project", "m1", std::nullopt};
    struct Case {
        const char* name;
        std::int64_t chunkNumber;
        bool ownerRunning;
        std::optional<ChunkFiling> filing;
        FiledChunks filedChunks;
        FakeWriterBehaviour repair;
        bool finalNameTaken;
        std::string expectedFile; // "" when nothing but the partial's own files may remain
        bool recovered;
    };
    const FakeWriterBehaviour noAudio{.repairFindsAudio = false};
    const FakeWriterBehaviour broken{.repairError = PlatformError{"FFmpeg", -1, "broken", nullptr}};
    const std::string base = "studio7-2025-03-14-092653-chunk-00";
    using enum FiledChunks;
    const Case cases[] = {
        {"first chunk", 1, false, std::nullopt, leave, {}, false, base + "1-START-STOP.wav", true},
        {"later chunk, filed", 3, false, filing, recover, {}, false, base + "3-STOP.wav", true},
        {"name taken", 3, false, std::nullopt, recover, {}, true, base + "3-STOP-dup-", true},
        {"no audio", 2, false, std::nullopt, recover, noAudio, false, "", false},
        {"unrepairable", 2, false, std::nullopt, recover, broken, false, base + "2-unrecoverable-", false},
        {"owner still running", 2, true, std::nullopt, recover, {}, false, ".", false},
        {"filed, no queue here", 2, false, filing, leave, {}, false, ".", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emptyDirectory();
        factory_->setBehaviour(c.repair);
        if (c.finalNameTaken) {
            std::ofstream(directory_ / (base + "3-STOP.wav")) << "earlier";
        }
        const fs::path partial = leavePartial("0A1B2C3D-0000-4000-8000-000000000001", c.chunkNumber, c.filing,
                                              c.ownerRunning ? ProcessIdentity::current() : goneProcess());
        StdoutCapture capture;
        const auto recovered = recoverInterruptedChunks(directory_, *factory_, c.filedChunks);

        ASSERT_EQ(recovered.size(), c.recovered ? 1u : 0u);
        if (c.recovered) {
            EXPECT_EQ(recovered[0].filing, c.filing);
            EXPECT_TRUE(recovered[0].path.filename().string().starts_with(c.expectedFile));
            EXPECT_EQ(capture.lines().back(),
                      "♻️ Chunk recovered: " + recovered[0].path.filename().string());
        }
        const bool leftAlone = c.expectedFile == ".";
        EXPECT_EQ(fs::exists(partial), leftAlone);
        EXPECT_EQ(fs::exists(PartialChunkRecord::pathBeside(partial)), leftAlone);
        const auto files = filesInDirectory();
        if (!leftAlone && !c.expectedFile.empty()) {
            EXPECT_TRUE(std::any_of(files.begin(), files.end(),
                                    [&](const std::string& f) { return f.starts_with(c.expectedFile); }));
        }
        if (c.expectedFile.empty()) {
            EXPECT_EQ(files, std::vector<std::string>{});
        }
    }
}

TEST_F(ChunkRecoveryTest, RecordsAreReadBackAndUnsafeOnesRefused) {
    const PartialChunkRecord record{.stem = "studio7-2025-03-14-092653-chunk-004",
                                    .chunkNumber = 4,
                                    .extension = "m4a",
                                    .filing = ChunkFiling{"p", std::nullopt, "m", "Standup"},
                                    .owner = ProcessIdentity::current()};
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

TEST_F(ChunkRecoveryTest, TheOpenChunkKeepsARecordThatFollowsItsFilingAndGoesWithIt) {
    auto writer = makeWriter();
    feed(*writer, seconds(0));
    const fs::path partial = factory_->writer(0)->path;
    const auto recordOnDisk = [&] {
        return PartialChunkRecord::fromJson(
            QByteArray::fromStdString(readFile(PartialChunkRecord::pathBeside(partial))));
    };
    ASSERT_TRUE(recordOnDisk().has_value());
    EXPECT_EQ(recordOnDisk()->stem, "studio7-" + localDate(kBaseEpochSeconds) + "-chunk-001");
    EXPECT_EQ(recordOnDisk()->filing, std::nullopt);
    writer->setFiling(ChunkFiling{"p2", "Second", std::nullopt, std::nullopt});
    EXPECT_EQ(recordOnDisk()->filing->projectId, "p2");

    // A chunk finished normally leaves no record behind.
    feed(*writer, seconds(400));
    writer->closeCurrentChunk(ChunkClose::final);
    factory_->waitForCompletions();
    for (const auto& name : filesInDirectory()) {
        EXPECT_FALSE(name.ends_with(".json")) << name;
    }
}

TEST_F(ChunkRecoveryTest, AudioDroppedWhileTheEncoderLagsIsPaidBackInSilence) {
    auto writer = makeWriter();
    feed(*writer, seconds(0));
    const auto media = factory_->writer(0);
    media->setReadyForMoreMediaData(false);
    StdoutCapture capture;
    EXPECT_FALSE(writer->append(bufferAt(seconds(0.01)))); // dropped silently
    writer->noteDroppedAudio(0.01); // dropped by the owner before it reached the writer
    media->setReadyForMoreMediaData(true);
    ASSERT_TRUE(writer->append(bufferAt(seconds(0.03))));
    EXPECT_TRUE(events_->errors().empty());
    std::int64_t frames = 0;
    for (const auto& buffer : media->state().appended) {
        frames += buffer->numSamples();
    }
    EXPECT_EQ(frames, 4 * 480); // two buffers and two buffers' worth of silence
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"⚠️ The encoder fell behind: 2 buffers dropped and "
                                       "replaced by silence, so the chunk keeps its length"});
}

} // namespace
} // namespace veltrane::test
