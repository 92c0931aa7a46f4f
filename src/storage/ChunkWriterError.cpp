#include "storage/ChunkWriterError.h"

namespace veltrane {

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

} // namespace veltrane
