#pragma once

#include "platform/core/PlatformError.h"
#include "storage/WriterError.h"

#include <string>
#include <utility>
#include <variant>

namespace veltrane {

// What the chunk writer reports: one of its own errors, or a platform error passed on
// unchanged (opening a media writer, moving a finished file).
class ChunkWriterError {
public:
    // Implicit, so that either kind can be handed on where a ChunkWriterError is expected.
    ChunkWriterError(WriterError error) : error_(std::move(error)) {}
    ChunkWriterError(PlatformError error) : error_(std::move(error)) {}

    // Null when the error is of the other kind.
    [[nodiscard]] const WriterError* writerError() const { return std::get_if<WriterError>(&error_); }
    [[nodiscard]] const PlatformError* platformError() const { return std::get_if<PlatformError>(&error_); }

    // The user-readable text.
    [[nodiscard]] std::string localizedDescription() const;
    // The text for log lines: the user-readable text together with domains and codes.
    [[nodiscard]] std::string fullDescription() const;

private:
    std::variant<WriterError, PlatformError> error_;
};

} // namespace veltrane
