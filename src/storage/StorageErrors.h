#pragma once

#include "platform/core/Messages.h"
#include "platform/core/PlatformError.h"
#include "platform/encoding/MediaFileWriter.h"

#include <optional>
#include <string>
#include <system_error>
#include <utility>

namespace veltrane {

// What the chunk writer reports, with a user-readable description: one of its own failures, or
// a platform error passed on unchanged (opening a media writer, moving a finished file).
class ChunkWriterError {
public:
    enum class Kind { writerFailed, nameCollision, cannotAddInput, platform };

    // Implicit, so that a platform error can be handed on where a ChunkWriterError is expected.
    ChunkWriterError(PlatformError error) : kind_(Kind::platform), underlying_(std::move(error)) {}
    // The platform writer failed; `underlying` is its error, which it may not have.
    [[nodiscard]] static ChunkWriterError writerFailed(std::optional<PlatformError> underlying);
    // The final name of a chunk was already taken; the chunk was saved under another name.
    [[nodiscard]] static ChunkWriterError nameCollision(std::string takenName);
    [[nodiscard]] static ChunkWriterError cannotAddInput();

    [[nodiscard]] Kind kind() const { return kind_; }
    // The platform's error: the one passed on, or the failed writer's when it had one.
    [[nodiscard]] const std::optional<PlatformError>& underlying() const { return underlying_; }
    // The final file name that was taken (nameCollision only; empty otherwise).
    [[nodiscard]] const std::string& takenName() const { return takenName_; }

    // The user-readable text, from these templates (see filledMessage) or the platform's own text.
    [[nodiscard]] std::string localizedDescription() const;
    static constexpr const char* kWriterFailedMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Chunk writer failed: %1");
    static constexpr const char* kNameCollisionMessage = QT_TRANSLATE_NOOP(
        "veltrane::Messages", "A file named %1 already exists; the chunk was kept under a modified name.");
    // The text for log lines: the user-readable text together with domains and codes.
    [[nodiscard]] std::string fullDescription() const;

private:
    explicit ChunkWriterError(Kind kind) : kind_(kind) {}

    Kind kind_ = Kind::writerFailed;
    std::optional<PlatformError> underlying_;
    std::string takenName_;
};

// A failed file operation as a platform error: domain "FileSystem", the system's error number
// as the code and its message as the description.
[[nodiscard]] PlatformError makeFileSystemError(const std::error_code& error);

// The media writer's status as a word for diagnostics: "unknown", "writing", "completed",
// "failed", "cancelled", or "status <n>" for any other number.
[[nodiscard]] std::string describeWriterStatus(MediaWriterStatus status);

} // namespace veltrane
