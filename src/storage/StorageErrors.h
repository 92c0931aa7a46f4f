#pragma once

#include "platform/core/PlatformError.h"
#include "platform/encoding/MediaFileWriter.h"

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace veltrane {

// The chunk writer's own failure kinds, each with a user-readable description.
class WriterError {
public:
    enum class Kind { writerFailed, nameCollision, cannotAddInput };

    // The platform writer failed; `underlying` is its error, which it may not have.
    [[nodiscard]] static WriterError writerFailed(std::optional<PlatformError> underlying);
    // The final name of a chunk was already taken; the chunk was saved under another name.
    [[nodiscard]] static WriterError nameCollision(std::string takenName);
    [[nodiscard]] static WriterError cannotAddInput();

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] const std::optional<PlatformError>& underlying() const { return underlying_; }
    // The final file name that was taken (nameCollision only; empty otherwise).
    [[nodiscard]] const std::string& takenName() const { return takenName_; }

    [[nodiscard]] std::string errorDescription() const;

private:
    explicit WriterError(Kind kind) : kind_(kind) {}

    Kind kind_ = Kind::writerFailed;
    std::optional<PlatformError> underlying_;
    std::string takenName_;
};

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

// A failed file operation as a platform error: domain "FileSystem", the system's error number
// as the code and its message as the description.
[[nodiscard]] PlatformError makeFileSystemError(const std::error_code& error);

// The media writer's status as a word for diagnostics: "unknown", "writing", "completed",
// "failed", "cancelled", or "status <n>" for any other number.
[[nodiscard]] std::string describeWriterStatus(MediaWriterStatus status);

} // namespace veltrane
