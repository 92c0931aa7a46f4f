#include "storage/ChunkFinalization.h"

#include "platform/core/Log.h"
#include "platform/core/UUID.h"
#include "storage/AtomicFileWriter.h"
#include "storage/ChunkRecovery.h"
#include "storage/StorageErrors.h"

#include <system_error>
#include <utility>

namespace veltrane {

void FinalizationTracker::begin() {
    std::lock_guard lock(mutex_);
    ++pending_;
}

void FinalizationTracker::end() {
    std::vector<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        if (pending_ > 0) {
            --pending_;
        }
        if (pending_ == 0) {
            ready.swap(waiting_);
        }
    }
    for (const auto& callback : ready) {
        callback();
    }
}

void FinalizationTracker::whenIdle(std::function<void()> callback) {
    {
        std::lock_guard lock(mutex_);
        if (pending_ > 0) {
            waiting_.push_back(std::move(callback));
            return;
        }
    }
    callback();
}

ChunkFinalization::ChunkFinalization(std::shared_ptr<MediaFileWriter> writer, std::filesystem::path directory,
                                     std::filesystem::path partialPath, std::int64_t chunkNumber,
                                     ChunkFileName finalName, Outcome outcome)
    : writer_(std::move(writer)), directory_(std::move(directory)), partialPath_(std::move(partialPath)),
      chunkNumber_(chunkNumber), finalName_(std::move(finalName)), outcome_(std::move(outcome)) {}

void ChunkFinalization::start() {
    if (outcome_.tracker) {
        outcome_.tracker->begin();
    }
    // The completion keeps this object, and through it the media writer, alive until the
    // finish has been handled; finishChunk() lets go of the writer again, which breaks the cycle.
    writer_->finishWriting([self = shared_from_this()] { self->finishChunk(); });
}

void ChunkFinalization::finishChunk() {
    if (writer_->status() != MediaWriterStatus::completed) {
        reportFailedFinish();
    } else {
        promoteChunk();
    }
    writer_.reset();
    if (outcome_.tracker) {
        outcome_.tracker->end();
    }
}

void ChunkFinalization::reportFailedFinish() {
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(partialPath_, sizeError);
    const std::uintmax_t sizeBytes = sizeError ? 0 : size;
    const std::optional<PlatformError> error = writer_->error();
    logCritical(lcStorage(), "❌ finishWriting failed for chunk " + std::to_string(chunkNumber_) +
                                 "\n   status: " + describeWriterStatus(writer_->status()) +
                                 "\n   partial: " + std::to_string(sizeBytes) +
                                 " bytes\n   error: " + describeError(error ? &*error : nullptr));
    removePartialFile(partialPath_);
    reportError(ChunkWriterError::writerFailed(error));
}

void ChunkFinalization::promoteChunk() {
    const std::string finalFileName = finalName_.fileName();
    const std::filesystem::path finalPath = directory_ / finalFileName;
    // The move itself refuses to replace a file, so one that appears at the final name at any
    // moment is left alone and the chunk goes to a collision name instead.
    const std::error_code moveError = moveWithoutReplacing(partialPath_, finalPath);
    if (!moveError) {
        PartialChunkRecord::removeBeside(partialPath_);
        if (outcome_.finishedChunkCount) {
            outcome_.finishedChunkCount->fetch_add(1);
        }
        logInfo(lcStorage(), "✅ Chunk saved: " + finalFileName);
        if (outcome_.onChunkFinished) {
            outcome_.onChunkFinished(finalPath);
        }
        return;
    }
    if (moveError != std::errc::file_exists) {
        keptInPartialFile(moveError);
        return;
    }

    const std::filesystem::path collisionPath = directory_ / finalName_.collisionFileName(makeUUIDString());
    if (const std::error_code collisionError = moveWithoutReplacing(partialPath_, collisionPath)) {
        keptInPartialFile(collisionError);
        return;
    }
    PartialChunkRecord::removeBeside(partialPath_);
    reportError(ChunkWriterError::nameCollision(finalFileName));
    if (outcome_.onChunkFinished) {
        outcome_.onChunkFinished(collisionPath);
    }
}

void ChunkFinalization::keptInPartialFile(const std::error_code& moveError) {
    // The audio is finished but cannot get its name; it stays where it is, and says so.
    logWarning(lcStorage(), "⚠️ Chunk " + std::to_string(chunkNumber_) + " stays in its partial file " +
                                partialPath_.string() + ": " + moveError.message());
    reportError(makeFileSystemError(moveError));
}

void ChunkFinalization::reportError(const ChunkWriterError& error) const {
    if (outcome_.onError) {
        outcome_.onError(error);
    }
}

} // namespace veltrane
