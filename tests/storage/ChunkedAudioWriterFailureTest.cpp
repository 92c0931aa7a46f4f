#include "storage/ChunkWriterTestFixture.h"

#include "support/StdoutCapture.h"

#include <cerrno>

namespace veltrane::test {
namespace {

using FailureTest = ChunkWriterTest;

PlatformError platformError(std::string domain, std::int64_t code, std::string description) {
    PlatformError error;
    error.domain = std::move(domain);
    error.code = code;
    error.localizedDescription = std::move(description);
    return error;
}

TEST_F(FailureTest, WriterCreationFailureIsRaisedUnchangedAndLeavesTheWriterIdle) {
    FakeWriterBehaviour failing;
    failing.createError = platformError("FakeWriter", -11823, "Cannot Save");
    factory_->setBehaviour(failing);
    auto writer = makeWriter();
    StdoutCapture capture;

    const auto result = writer->rotateIfNeeded(seconds(5.0));
    ASSERT_FALSE(result.has_value());
    const PlatformError* raised = result.error().platformError();
    ASSERT_NE(raised, nullptr);
    EXPECT_EQ(raised->domain, "FakeWriter");
    EXPECT_EQ(raised->code, -11823);
    EXPECT_EQ(result.error().localizedDescription(), "Cannot Save");
    EXPECT_EQ(writer->input(), nullptr);
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.0))));

    // Every later buffer tries again; the number was not advanced by the failures.
    EXPECT_FALSE(writer->rotateIfNeeded(seconds(5.01)).has_value());
    EXPECT_EQ(factory_->createAttempts(), 2u);
    factory_->setBehaviour({});
    feed(*writer, seconds(5.02));
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"🔖 Chunk 1 open"});
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(FailureTest, InputThatCannotBeAddedRaisesCannotAddInput) {
    FakeWriterBehaviour failing;
    failing.canAddInput = false;
    factory_->setBehaviour(failing);
    auto writer = makeWriter();

    const auto result = writer->rotateIfNeeded(seconds(5.0));
    ASSERT_FALSE(result.has_value());
    ASSERT_NE(result.error().writerError(), nullptr);
    EXPECT_EQ(result.error().writerError()->kind(), WriterError::Kind::CannotAddInput);
    EXPECT_EQ(result.error().localizedDescription(), "Could not add an audio input to the chunk writer.");
    EXPECT_EQ(writer->input(), nullptr);
    EXPECT_TRUE(filesInDirectory().empty());

    factory_->setBehaviour({});
    StdoutCapture capture;
    feed(*writer, seconds(5.01));
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"🔖 Chunk 1 open"});
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(FailureTest, WritingThatCannotStartRaisesWriterFailedAndRemovesTheBrokenFile) {
    FakeWriterBehaviour failing;
    failing.startWritingSucceeds = false;
    failing.startError = platformError("FakeWriter", 28, "No space left on device");
    factory_->setBehaviour(failing);
    auto writer = makeWriter();

    const auto result = writer->rotateIfNeeded(seconds(5.0));
    ASSERT_FALSE(result.has_value());
    const WriterError* error = result.error().writerError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->kind(), WriterError::Kind::WriterFailed);
    ASSERT_TRUE(error->underlying().has_value());
    EXPECT_EQ(error->underlying()->code, 28);
    EXPECT_EQ(result.error().localizedDescription(), "Chunk writer failed: No space left on device");
    EXPECT_EQ(writer->input(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(factory_->writer(0)->path()));
    EXPECT_TRUE(filesInDirectory().empty());

    factory_->setBehaviour({});
    StdoutCapture capture;
    feed(*writer, seconds(5.01));
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"🔖 Chunk 1 open"});
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(FailureTest, FailedOpenAtRotationStillFinishesTheClosedChunk) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    FakeWriterBehaviour failing;
    failing.createError = platformError("FakeWriter", 1, "Cannot Open");
    factory_->setBehaviour(failing);
    StdoutCapture capture;

    EXPECT_FALSE(writer->rotateIfNeeded(seconds(65.0)).has_value());
    EXPECT_EQ(writer->input(), nullptr);
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.0))));
    factory_->waitForCompletions();
    EXPECT_EQ(events_->finishedPaths().size(), 1u);

    factory_->setBehaviour({});
    feed(*writer, seconds(65.01));
    EXPECT_EQ(capture.count("🔖 Chunk 2 open\n"), 1u);
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(FailureTest, InputThatIsNotReadyDropsTheBufferSilently) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    factory_->writer(0)->setReadyForMoreMediaData(false);
    StdoutCapture capture;
    EXPECT_FALSE(writer->input()->isReadyForMoreMediaData());
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.01))));
    EXPECT_TRUE(capture.text().empty());
    EXPECT_EQ(factory_->writer(0)->appendedBuffers().size(), 1u);
    EXPECT_TRUE(events_->errors().empty());
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(FailureTest, RefusedAppendIsReportedOnceWithTheFiveLineReport) {
    auto writer = makeWriter();
    feed(*writer, ticks(5 * kTimescale));
    factory_->writer(0)->setAcceptsAppends(false,
                                           platformError("FakeEncoder", 22, "encoder rejected the buffer"));
    StdoutCapture capture;

    EXPECT_FALSE(writer->append(bufferAt(ticks(5 * kTimescale + 480))));
    EXPECT_FALSE(writer->append(bufferAt(ticks(5 * kTimescale + 960))));

    EXPECT_EQ(capture.text(), "❌ append failed after 1 buffers\n"
                              "   writer status: failed\n"
                              "   pts: 5.01s (240480/48000)\n"
                              "   samples: 480\n"
                              "   error: FakeEncoder 22: encoder rejected the buffer\n");
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_NE(errors[0].writerError(), nullptr);
    EXPECT_EQ(errors[0].writerError()->kind(), WriterError::Kind::WriterFailed);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: encoder rejected the buffer");
    EXPECT_NE(writer->input(), nullptr) << "the chunk stays open";
    writer->closeCurrentChunk(ChunkClose::Final);
}

TEST_F(FailureTest, OnlyTheFirstRefusalInTheWritersLifeIsReportedEvenAcrossChunks) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    // Refused without an error: the writer itself keeps writing.
    factory_->writer(0)->setAcceptsAppends(false);
    StdoutCapture capture;
    EXPECT_FALSE(writer->append(bufferAt(seconds(5.01))));

    FakeWriterBehaviour refusing;
    refusing.acceptsAppends = false;
    factory_->setBehaviour(refusing);
    ASSERT_TRUE(writer->rotateIfNeeded(seconds(65.0)).has_value());
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.0))));
    EXPECT_FALSE(writer->append(bufferAt(seconds(65.01))));
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    EXPECT_EQ(capture.count("❌ append failed after "), 1u);
    EXPECT_EQ(capture.count("   writer status: writing\n"), 1u);
    EXPECT_EQ(capture.count("   error: none\n"), 1u);
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: unknown error");
    // Chunk 1 had a buffer and is saved; chunk 2 never accepted one and is discarded.
    EXPECT_EQ(events_->finishedPaths().size(), 1u);
    EXPECT_EQ(capture.count("⚠️ Chunk closed with no samples; discarded\n"), 1u);
}

TEST_F(FailureTest, FailedFinishIsReportedAndThePartialFileDeleted) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    const auto fake = factory_->writer(0);
    fake->setFinishOutcome(false,
                           platformError("FakeWriter", -11800, "The operation could not be completed"));
    StdoutCapture capture;
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    EXPECT_EQ(capture.count("❌ finishWriting failed for chunk 1\n"
                            "   status: failed\n"
                            "   partial: 4 bytes\n"
                            "   error: FakeWriter -11800: The operation could not be completed\n"),
              1u)
        << capture.text();
    EXPECT_EQ(capture.count("✅"), 0u);
    EXPECT_FALSE(std::filesystem::exists(fake->path()));
    EXPECT_TRUE(filesInDirectory().empty());
    EXPECT_TRUE(events_->finishedPaths().empty());
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    ASSERT_NE(errors[0].writerError(), nullptr);
    EXPECT_EQ(errors[0].writerError()->kind(), WriterError::Kind::WriterFailed);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: The operation could not be completed");
    EXPECT_EQ(writer->finishedChunkCount(), 0);
}

TEST_F(FailureTest, FailedFinishWithoutErrorOrFileReportsNoneAndZeroBytes) {
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    const auto fake = factory_->writer(0);
    fake->setFinishOutcome(false);
    std::filesystem::remove(fake->path());
    StdoutCapture capture;
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    EXPECT_EQ(capture.count("❌ finishWriting failed for chunk 1\n"
                            "   status: failed\n"
                            "   partial: 0 bytes\n"
                            "   error: none\n"),
              1u)
        << capture.text();
    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].localizedDescription(), "Chunk writer failed: unknown error");
}

TEST_F(FailureTest, FailedMoveReportsTheFileSystemErrorAndKeepsThePartialFile) {
    deviceID_ = std::string(300, 'd'); // longer than any file name may be
    auto writer = makeWriter();
    feed(*writer, seconds(5.0));
    const auto fake = factory_->writer(0);
    StdoutCapture capture;
    writer->closeCurrentChunk(ChunkClose::Final);
    factory_->waitForCompletions();

    const auto errors = events_->errors();
    ASSERT_EQ(errors.size(), 1u);
    const PlatformError* error = errors[0].platformError();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, "FileSystem");
    EXPECT_EQ(error->code, ENAMETOOLONG);
    EXPECT_FALSE(error->localizedDescription.empty());
    EXPECT_TRUE(events_->finishedPaths().empty());
    EXPECT_TRUE(std::filesystem::exists(fake->path())) << "the audio stays in the hidden partial file";
    EXPECT_EQ(capture.count("✅"), 0u);
    EXPECT_EQ(writer->finishedChunkCount(), 0);
}

} // namespace
} // namespace veltrane::test
