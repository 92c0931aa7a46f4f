#include "storage/StorageErrors.h"

#include <utility>

namespace veltrane {

ChunkWriterError ChunkWriterError::writerFailed(std::optional<PlatformError> underlying) {
    ChunkWriterError error(Kind::writerFailed);
    error.underlying_ = std::move(underlying);
    return error;
}

ChunkWriterError ChunkWriterError::nameCollision(std::string takenName) {
    ChunkWriterError error(Kind::nameCollision);
    error.takenName_ = std::move(takenName);
    return error;
}

ChunkWriterError ChunkWriterError::cannotAddInput() {
    return ChunkWriterError(Kind::cannotAddInput);
}

std::string ChunkWriterError::localizedDescription() const {
    switch (kind_) {
    case Kind::writerFailed:
        return filledMessage(kWriterFailedMessage,
                             {QString::fromStdString(
                                 underlying_ ? underlying_->localizedDescription
                                             : QT_TRANSLATE_NOOP("veltrane::Messages", "unknown error"))})
            .toStdString();
    case Kind::nameCollision:
        return filledMessage(kNameCollisionMessage, {QString::fromStdString(takenName_)}).toStdString();
    case Kind::cannotAddInput:
        return QT_TRANSLATE_NOOP("veltrane::Messages", "Could not add an audio input to the chunk writer.");
    case Kind::platform:
        return underlying_->localizedDescription;
    }
    return {};
}

namespace {

const char* kindName(ChunkWriterError::Kind kind) {
    switch (kind) {
    case ChunkWriterError::Kind::writerFailed:
        return "writerFailed";
    case ChunkWriterError::Kind::nameCollision:
        return "nameCollision";
    case ChunkWriterError::Kind::cannotAddInput:
        return "cannotAddInput";
    case ChunkWriterError::Kind::platform:
        break;
    }
    return "unknown";
}

} // namespace

std::string ChunkWriterError::fullDescription() const {
    if (kind_ == Kind::platform) {
        return underlying_->fullDescription();
    }
    // The chunk writer's own failures keep the "WriterError.<kind>" prefix of the log lines.
    std::string text = std::string("WriterError.") + kindName(kind_) + ": " + localizedDescription();
    if (underlying_) {
        text += " (" + underlying_->fullDescription() + ")";
    }
    return text;
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
