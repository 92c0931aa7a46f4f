#include "upload/MultipartBodyWriter.h"

#include "support/CliProcess.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::readFile;

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class MultipartBodyWriterTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    fs::path dir{temp.path().toStdString()};
    fs::path chunk{dir / "chunk.wav"};
    fs::path body{dir / "body.multipart"};
    UploadJob job = UploadJob::makeNew("Meeting 1.WAV", "prj-alpha", "Alpha", "mtg \"quoted\"", {}, 300, {});
};

TEST_F(MultipartBodyWriterTest, PartsInOrderWithVerbatimValuesReplacingAnEarlierBodyOrNoBodyAtAll) {
    writeFile(body, std::string(10000, 'x'));
    // More than one piece, with bytes that look like line ends and boundaries.
    std::string bytes(MultipartBodyWriter::kPieceBytes + 11, 'b');
    bytes.replace(MultipartBodyWriter::kPieceBytes - 4, 10, std::string("RIFF\0\r\n--x", 10));
    writeFile(chunk, bytes);
    ASSERT_TRUE(MultipartBodyWriter::write("Boundary-B", job, chunk, body));
    EXPECT_TRUE(readFile(body) ==
                "--Boundary-B\r\n"
                "Content-Disposition: form-data; name=\"project_id\"\r\n\r\n"
                "prj-alpha\r\n"
                "--Boundary-B\r\n"
                "Content-Disposition: form-data; name=\"meeting_id\"\r\n\r\n"
                "mtg \"quoted\"\r\n"
                "--Boundary-B\r\n"
                "Content-Disposition: form-data; name=\"file\"; filename=\"Meeting 1.WAV\"\r\n"
                "Content-Type: audio/wav\r\n\r\n" +
                    bytes + "\r\n--Boundary-B--\r\n");
    for (const auto& [name, type] : std::vector<std::pair<const char*, const char*>>{
             {"a.wav", "audio/wav"}, {"a.wav.m4a", "audio/mp4"}, {"wav", "audio/mp4"}, {"a.", "audio/mp4"}}) {
        EXPECT_EQ(MultipartBodyWriter::mediaTypeForFilename(name), type) << name;
    }
    // A missing chunk or an unwritable body leaves no body file, nor a temporary.
    fs::remove(body);
    EXPECT_FALSE(MultipartBodyWriter::write("Boundary-M", job, dir / "absent.wav", body));
    EXPECT_FALSE(MultipartBodyWriter::write("Boundary-M", job, chunk, dir / "no-such-dir" / "b.multipart"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "the chunk alone";
}

} // namespace
} // namespace veltrane
