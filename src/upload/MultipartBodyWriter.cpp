#include "upload/MultipartBodyWriter.h"

#include "storage/AtomicFileWriter.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

namespace veltrane {
namespace {

constexpr std::string_view kCrlf = "\r\n";

} // namespace

std::string MultipartBodyWriter::mediaTypeForFilename(std::string_view filename) {
    const auto dot = filename.rfind('.');
    if (dot == std::string_view::npos) {
        return "audio/mp4";
    }
    std::string extension(filename.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "wav" ? "audio/wav" : "audio/mp4";
}

MultipartBodyWriter::Result MultipartBodyWriter::write(const std::string& boundary, const UploadJob& job,
                                                       const std::filesystem::path& chunkFile,
                                                       const std::filesystem::path& bodyFile) {
    const std::unexpected chunkUnreadable{Failure{Failure::Kind::chunkUnreadable, {}}};
    std::ifstream chunk(chunkFile, std::ios::binary);
    if (!chunk) {
        return chunkUnreadable;
    }
    std::string head;
    for (const auto& [name, value] : job.multipartFields()) {
        head.append("--").append(boundary).append(kCrlf);
        head.append("Content-Disposition: form-data; name=\"")
            .append(name)
            .append("\"")
            .append(kCrlf)
            .append(kCrlf);
        head.append(value).append(kCrlf);
    }
    head.append("--").append(boundary).append(kCrlf);
    head.append("Content-Disposition: form-data; name=\"file\"; filename=\"")
        .append(job.filename)
        .append("\"")
        .append(kCrlf);
    head.append("Content-Type: ").append(mediaTypeForFilename(job.filename)).append(kCrlf).append(kCrlf);

    // The body is rebuilt from the chunk for every attempt, so it need not survive a crash.
    // A failed writer removes its temporary file, so no partial body is left behind.
    AtomicFileWriter body(bodyFile, AtomicFileWriter::Durability::processOnly);
    const auto bodyUnwritable = [&body] {
        return std::unexpected(Failure{Failure::Kind::bodyUnwritable, body.error().message()});
    };
    if (!body.open() || !body.write(head)) {
        return bodyUnwritable();
    }
    std::vector<char> piece(kPieceBytes);
    while (chunk) {
        chunk.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto count = static_cast<std::size_t>(chunk.gcount());
        if (count > 0 && !body.write(std::string_view(piece.data(), count))) {
            return bodyUnwritable();
        }
    }
    if (chunk.bad()) {
        return chunkUnreadable;
    }
    std::string tail;
    tail.append(kCrlf).append("--").append(boundary).append("--").append(kCrlf);
    if (!body.write(tail) || !body.commit()) {
        return bodyUnwritable();
    }
    // A whole copy of meeting audio: the user's alone.
    std::error_code ignored;
    std::filesystem::permissions(bodyFile,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, ignored);
    return {};
}

} // namespace veltrane
