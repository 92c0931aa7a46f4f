// What the chunk writer does when the media writer cannot open, take audio, finish or be moved
// into place, and the texts its errors carry.
#include "storage/ChunkWriterTestFixture.h"
#include "storage/StorageErrors.h"
#include "support/StdoutCapture.h"

#include <cerrno>

namespace veltrane::test {
namespace {

using ChunkWriterFailureTest = ChunkWriterTest;

PlatformError failure(std::string domain, std::int64_t code, std::string text) {
    return PlatformError{std::move(domain), code, std::move(text), nullptr};
}

TEST_F(ChunkWriterFailureTest, AChunkThatCannotOpenIsRaisedLeavesNothingAndTheNextBufferTriesAgain) {
    const std::pair<FakeWriterBehaviour, const char*> cases[] = {
        {{.createError = failure("FakeWriter", -11823, "Cannot Save")}, "Cannot Save"},
        {{.canAddInput = false}, "Could not add an audio input to the chunk writer."},
        {{.startWritingSucceeds = false, .startError = failure("FakeWriter", 28, "No space left on device")},
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
        EXPECT_EQ(writer->input(), nullptr);
        EXPECT_FALSE(writer->append(bufferAt(seconds(5.0))));
        EXPECT_TRUE(filesInDirectory().empty());
        // The number was not advanced by the failure.
        factory_->setBehaviour({});
        StdoutCapture capture;
        feed(*writer, seconds(5.01));
        EXPECT_EQ(capture.lines(), std::vector<std::string>{"🔖 Chunk 1 open"});
        // A failed open at the rotation still finishes the chunk it closed.
        factory_->setBehaviour(behaviour);
        EXPECT_FALSE(writer->rotateIfNeeded(seconds(66.0)).has_value());
        factory_->waitForCompletions();
        EXPECT_EQ(filesInDirectory(), std::vector<std::string>{chunkName("001-START")});
    }
}

TEST_F(ChunkWriterFailureTest, OnlyTheFirstRefusedAppendInTheWritersLifeIsReported) {
    auto writer = makeWriter();
    feed(*writer, ticks(5 * kTimescale));
    // Refused without an error: the media writer itself keeps writing.
    factory_->writer(0)->change([](auto& s) { s.behaviour.acceptsAppends = false; });
    StdoutCapture capture;
    EXPECT_FALSE(writer->append(bufferAt(ticks(5 * kTimescale + 480))));
    factory_->setBehaviour(
        {.acceptsAppends = false, .appendError = failure("FakeEncoder", 22, "encoder rejected the buffer")});
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(65.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.0))));
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.01))));
    finish(*writer);
    EXPECT_EQ(capture.count("❌ append failed after 1 buffers\n"
                            "   writer status: writing\n"
                            "   pts: 5.01s (240480/48000)\n"
                            "   samples: 480\n"
                            "   error: none\n"),
              1u);
    EXPECT_EQ(capture.count("❌ append failed"), 1u) << capture.text();
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_NE(errors[0].writerError(), nullptr);
    EXPECT_EQ(errors[0].writerError()->kind(), WriterError::Kind::writerFailed);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: unknown error");
    // Chunk 1 had a buffer and is saved; chunk 2 never accepted one and is discarded.
    EXPECT_EQ(events_->finishedPaths().size(), 1u);
    EXPECT_EQ(capture.count("⚠️ Chunk closed with no samples; discarded\n"), 1u);
}

TEST_F(ChunkWriterFailureTest, AFailedFinishIsReportedAndThePartialFileDeleted) {
    const std::optional<PlatformError> finishErrors[] = {
        failure("FakeWriter", -11800, "The operation could not be completed"), std::nullopt};
    for (const auto& finishError : finishErrors) {
        auto writer = makeWriter();
        feed(*writer, seconds(5.0));
        const auto fake = factory_->writers().back();
        fake->change([&](auto& s) {
            s.behaviour.finishSucceeds = false;
            s.behaviour.finishError = finishError;
        });
        if (!finishError) {
            std::filesystem::remove(fake->path);
        }
        StdoutCapture capture;
        const std::size_t errorsBefore = events_->errors().size();
        finish(*writer);
        EXPECT_EQ(
            capture.count(std::string("❌ finishWriting failed for chunk 1\n   status: failed\n   partial: ") +
                          (finishError ? "4" : "0") + " bytes\n"),
            1u)
            << capture.text();
        EXPECT_TRUE(filesInDirectory().empty());
        EXPECT_TRUE(events_->finishedPaths().empty());
        const auto errors = events_->errors();
        ASSERT_EQ(errors.size(), errorsBefore + 1);
        EXPECT_EQ(errors.back().localizedDescription(),
                  finishError ? "Chunk writer failed: The operation could not be completed"
                              : "Chunk writer failed: unknown error");
        EXPECT_EQ(writer->finishedChunkCount(), 0);
    }
}

TEST_F(ChunkWriterFailureTest, AFailedMoveReportsTheFileSystemErrorAndKeepsThePartialFile) {
    deviceID_ = std::string(300, 'd'); // longer than any file name may be
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    StdoutCapture capture;
    finish(*writer);
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_NE(errors[0].platformError(), nullptr);
    EXPECT_EQ(errors[0].platformError()->domain, "FileSystem");
    EXPECT_EQ(errors[0].platformError()->code, ENAMETOOLONG);
    EXPECT_TRUE(std::filesystem::exists(factory_->writer(0)->path)) << "the audio stays in the partial file";
    EXPECT_EQ(capture.count("✅"), 0u);
    EXPECT_EQ(writer->finishedChunkCount(), 0);
}

// Texts not shown by the tests above.
TEST(ChunkWriterErrorTest, DescriptionsOfEveryKind) {
    PlatformError encoder = failure("FakeEncoder", -12, "encoder broke");
    encoder.underlying = std::make_shared<PlatformError>(failure("POSIX", 5, ""));
    EXPECT_EQ(ChunkWriterError(WriterError::nameCollision("a-chunk-001-START.wav")).localizedDescription(),
              "A file named a-chunk-001-START.wav already exists; the chunk was kept under a modified name.");
    EXPECT_EQ(ChunkWriterError(encoder).localizedDescription(), "encoder broke");
    EXPECT_EQ(ChunkWriterError(encoder).fullDescription(),
              "FakeEncoder -12: encoder broke | underlying POSIX 5");
}

} // namespace
} // namespace veltrane::test
