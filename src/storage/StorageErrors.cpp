#include "storage/StorageErrors.h"

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

namespace {

const char* kindName(WriterError::Kind kind) {
    switch (kind) {
    case WriterError::Kind::WriterFailed:
        return "writerFailed";
    case WriterError::Kind::NameCollision:
        return "nameCollision";
    case WriterError::Kind::CannotAddInput:
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
    case MediaWriterStatus::Unknown:
        return "unknown";
    case MediaWriterStatus::Writing:
        return "writing";
    case MediaWriterStatus::Completed:
        return "completed";
    case MediaWriterStatus::Failed:
        return "failed";
    case MediaWriterStatus::Cancelled:
        return "cancelled";
    }
    return "status " + std::to_string(static_cast<int>(status));
}

} // namespace veltrane
