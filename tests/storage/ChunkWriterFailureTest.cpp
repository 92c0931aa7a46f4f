// The chunk writer when the media writer cannot open, take audio, finish or be moved into place.
#include "storage/ChunkWriterTestFixture.h"
#include "storage/StorageErrors.h"
#include "support/LogCapture.h"

#include <cerrno>

namespace veltrane::test {
namespace {

using ChunkWriterFailureTest = ChunkWriterTest;

PlatformError failure(std::int64_t code, std::string text) {
    return PlatformError{"FakeWriter", code, std::move(text), nullptr};
}

// Raised, leaves no file, does not use up the number, and a failed open at a rotation still
// finishes the chunk it closed.
TEST_F(ChunkWriterFailureTest, AChunkThatCannotOpenIsRaisedLeavesNothingAndTheNextBufferTriesAgain) {
    const std::pair<FakeWriterBehaviour, const char*> cases[] = {
        {{.createError = failure(-11823, "Cannot Save")}, "Cannot Save"},
        {{.acceptsSettings = false}, "Could not add an audio input to the chunk writer."},
        {{.startError = failure(28, "No space left on device")},
         "Chunk writer failed: No space left on device"},
    };
    for (const auto& [behaviour, description] : cases) {
        SCOPED_TRACE(description);
        emptyDirectory();
        factory_->setBehaviour(behaviour);
        auto writer = makeWriter();
        const auto result = writer->rotateIfNeeded(seconds(5.0));
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().localizedDescription(), description);
        EXPECT_FALSE(writer->append(bufferAt(seconds(5.0))));
        EXPECT_TRUE(filesInDirectory().empty());
        factory_->setBehaviour({});
        feed(*writer, seconds(5.01));
        factory_->setBehaviour(behaviour);
        EXPECT_FALSE(writer->rotateIfNeeded(seconds(66.0)).has_value());
        factory_->waitForCompletions();
        EXPECT_EQ(filesInDirectory(), std::vector<std::string>{chunkName("001-START")});
    }
}

// Refused appends are reported once per writer life, whether or not the media writer failed.
TEST_F(ChunkWriterFailureTest, OnlyTheFirstRefusedAppendInTheWritersLifeIsReported) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    factory_->writers()[0]->change([](auto& s) { s.behaviour.acceptsAppends = false; });
    LogCapture capture;
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.01))));
    factory_->setBehaviour(
        {.acceptsAppends = false, .appendError = failure(22, "encoder rejected the buffer")});
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(65.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.0))));
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.01))));
    finish(*writer);
    EXPECT_EQ(capture.count("❌ append failed"), 1u) << capture.text();
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: unknown error");
    EXPECT_EQ(events_->finishedPaths().size(), 1u) << "chunk 2 took nothing and is discarded";
}

TEST_F(ChunkWriterFailureTest, AFailedFinishIsReportedAndThePartialFileDeleted) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    factory_->writers()[0]->change([&](auto& s) {
        s.behaviour.finishSucceeds = false;
        s.behaviour.finishError = failure(-11800, "disk gone");
    });
    finish(*writer);
    EXPECT_TRUE(filesInDirectory().empty());
    EXPECT_TRUE(events_->finishedPaths().empty());
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: disk gone");
}

TEST_F(ChunkWriterFailureTest, AFailedMoveReportsTheFileSystemErrorAndKeepsThePartialFile) {
    deviceID_ = std::string(300, 'd'); // longer than any file name may be
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    finish(*writer);
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_EQ(errors[0].kind(), ChunkWriterError::Kind::platform);
    EXPECT_EQ(errors[0].underlying()->code, ENAMETOOLONG);
    EXPECT_TRUE(std::filesystem::exists(factory_->writers()[0]->path));
    EXPECT_EQ(writer->finishedChunkCount(), 0);
}

} // namespace
} // namespace veltrane::test
