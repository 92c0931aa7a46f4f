#pragma once

#include "upload/UploadJob.h"

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace veltrane {

// Writes the multipart/form-data request body of one upload job into its body file: one text
// part per multipart field, the file part with the chunk's bytes, and the closing line.
// The chunk file is copied in pieces, so memory use stays bounded whatever the chunk size.
class MultipartBodyWriter {
public:
    static constexpr std::size_t kPieceBytes = 1024 * 1024;

    // "audio/wav" when the file name's extension is "wav" in any letter case, else "audio/mp4".
    [[nodiscard]] static std::string mediaTypeForFilename(std::string_view filename);

    struct Failure {
        enum class Kind { chunkUnreadable, bodyUnwritable };
        Kind kind = Kind::chunkUnreadable;
        // Why the body file could not be written, e.g. "No space left on device".
        std::string reason;
    };
    using Result = std::expected<void, Failure>;

    // Writes the body atomically to `bodyFile`, replacing an earlier one. Fails when the chunk
    // file cannot be read or the body file cannot be written (no body file is left then).
    [[nodiscard]] static Result write(const std::string& boundary, const UploadJob& job,
                                      const std::filesystem::path& chunkFile,
                                      const std::filesystem::path& bodyFile);
};

} // namespace veltrane
