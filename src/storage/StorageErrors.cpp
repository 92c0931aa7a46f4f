#include "storage/StorageErrors.h"

#include <utility>

namespace veltrane {

WriterError WriterError::writerFailed(std::optional<PlatformError> underlying) {
    WriterError error(Kind::writerFailed);
    error.underlying_ = std::move(underlying);
    return error;
}

WriterError WriterError::nameCollision(std::string takenName) {
    WriterError error(Kind::nameCollision);
    error.takenName_ = std::move(takenName);
    return error;
}

WriterError WriterError::cannotAddInput() {
    return WriterError(Kind::cannotAddInput);
}

std::string WriterError::errorDescription() const {
    switch (kind_) {
    case Kind::writerFailed:
        return "Chunk writer failed: " + (underlying_ ? underlying_->localizedDescription : "unknown error");
    case Kind::nameCollision:
        return "A file named " + takenName_ + " already exists; the chunk was kept under a modified name.";
    case Kind::cannotAddInput:
        return "Could not add an audio input to the chunk writer.";
    }
    return {};
}

namespace {

const char* kindName(WriterError::Kind kind) {
    switch (kind) {
    case WriterError::Kind::writerFailed:
        return "writerFailed";
    case WriterError::Kind::nameCollision:
        return "nameCollision";
    case WriterError::Kind::cannotAddInput:
        return "cannotAddInput";
    }
    return "unknown";
}

} // namespace

std::string ChunkWriterError::localizedDescription() const {
    if (const auto* own = writerError()) {
        return own->errorDescription();
    }
    return platformError()->localizedDescription;
}

std::string ChunkWriterError::fullDescription() const {
    if (const auto* own = writerError()) {
        std::string text =
            std::string("WriterError.") + kindName(own->kind()) + ": " + own->errorDescription();
        if (own->underlying()) {
            text += " (" + own->underlying()->fullDescription() + ")";
        }
        return text;
    }
    return platformError()->fullDescription();
}

PlatformError makeFileSystemError(const std::error_code& error) {
    PlatformError platformError;
    platformError.domain = "FileSystem";
    platformError.code = error.value();
    platformError.localizedDescription = error.message();
    return platformError;
}

std::string describeWriterStatus(MediaWriterStatus status) {
    switch (status) {
    case MediaWriterStatus::unknown:
        return "unknown";
    case MediaWriterStatus::writing:
        return "writing";
    case MediaWriterStatus::completed:
        return "completed";
    case MediaWriterStatus::failed:
        return "failed";
    case MediaWriterStatus::cancelled:
        return "cancelled";
    }
    return "status " + std::to_string(static_cast<int>(status));
}

} // namespace veltrane
