#include "storage/StorageErrors.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

PlatformError encoderError() {
    PlatformError error;
    error.domain = "FakeEncoder";
    error.code = -12;
    error.localizedDescription = "encoder broke";
    auto cause = std::make_shared<PlatformError>();
    cause->domain = "POSIX";
    cause->code = 5;
    error.underlying = cause;
    return error;
}

TEST(WriterErrorTest, DescriptionsAreTheUserReadableTexts) {
    EXPECT_EQ(WriterError::writerFailed(encoderError()).errorDescription(),
              "Chunk writer failed: encoder broke");
    EXPECT_EQ(WriterError::writerFailed(std::nullopt).errorDescription(),
              "Chunk writer failed: unknown error");
    EXPECT_EQ(WriterError::nameCollision("a-chunk-001-START.wav").errorDescription(),
              "A file named a-chunk-001-START.wav already exists; the chunk was kept under a modified name.");
    EXPECT_EQ(WriterError::cannotAddInput().errorDescription(),
              "Could not add an audio input to the chunk writer.");
}

TEST(ChunkWriterErrorTest, DescribesEitherKind) {
    const ChunkWriterError own = WriterError::writerFailed(encoderError());
    EXPECT_EQ(own.localizedDescription(), "Chunk writer failed: encoder broke");
    EXPECT_NE(own.fullDescription().find("FakeEncoder -12: encoder broke | underlying POSIX 5"),
              std::string::npos)
        << own.fullDescription();
    EXPECT_EQ(own.platformError(), nullptr);

    const ChunkWriterError platform = encoderError();
    EXPECT_EQ(platform.writerError(), nullptr);
    EXPECT_EQ(platform.localizedDescription(), "encoder broke");
    EXPECT_EQ(platform.fullDescription(), "FakeEncoder -12: encoder broke | underlying POSIX 5");
}

TEST(ChunkWriterErrorTest, FileSystemErrorsCarryTheSystemErrorNumber) {
    const PlatformError error = makeFileSystemError(std::make_error_code(std::errc::permission_denied));
    EXPECT_EQ(error.domain, "FileSystem");
    EXPECT_EQ(error.code, EACCES);
    EXPECT_EQ(error.localizedDescription, std::make_error_code(std::errc::permission_denied).message());
}

TEST(WriterStatusDescriptionTest, NamesEveryStatusAndNumbersUnknownOnes) {
    EXPECT_EQ(describeWriterStatus(MediaWriterStatus::Unknown), "unknown");
    EXPECT_EQ(describeWriterStatus(MediaWriterStatus::Writing), "writing");
    EXPECT_EQ(describeWriterStatus(MediaWriterStatus::Completed), "completed");
    EXPECT_EQ(describeWriterStatus(MediaWriterStatus::Failed), "failed");
    EXPECT_EQ(describeWriterStatus(MediaWriterStatus::Cancelled), "cancelled");
    EXPECT_EQ(describeWriterStatus(static_cast<MediaWriterStatus>(7)), "status 7");
}

} // namespace
} // namespace veltrane
