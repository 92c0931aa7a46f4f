#pragma once

#include "platform/core/PlatformError.h"

#include <optional>
#include <string>

namespace veltrane {

// The chunk writer's own failure kinds, each with a user-readable description.
class WriterError {
public:
    enum class Kind { WriterFailed, NameCollision, CannotAddInput };

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

    Kind kind_ = Kind::WriterFailed;
    std::optional<PlatformError> underlying_;
    std::string takenName_;
};

} // namespace veltrane
