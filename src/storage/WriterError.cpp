#include "storage/WriterError.h"

#include <utility>

namespace veltrane {

WriterError WriterError::writerFailed(std::optional<PlatformError> underlying) {
    WriterError error(Kind::WriterFailed);
    error.underlying_ = std::move(underlying);
    return error;
}

WriterError WriterError::nameCollision(std::string takenName) {
    WriterError error(Kind::NameCollision);
    error.takenName_ = std::move(takenName);
    return error;
}

WriterError WriterError::cannotAddInput() {
    return WriterError(Kind::CannotAddInput);
}

std::string WriterError::errorDescription() const {
    switch (kind_) {
    case Kind::WriterFailed:
        return "Chunk writer failed: " + (underlying_ ? underlying_->localizedDescription : "unknown error");
    case Kind::NameCollision:
        return "A file named " + takenName_ + " already exists; the chunk was kept under a modified name.";
    case Kind::CannotAddInput:
        return "Could not add an audio input to the chunk writer.";
    }
    return {};
}

} // namespace veltrane
