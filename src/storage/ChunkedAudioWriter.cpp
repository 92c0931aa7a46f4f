#include "storage/ChunkedAudioWriter.h"

#include "platform/core/Log.h"
#include "platform/core/UUID.h"
#include "storage/AtomicFileWriter.h"
#include "storage/ChunkFileName.h"
#include "storage/ChunkFinalization.h"
#include "storage/StorageErrors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>
#include <utility>

namespace veltrane {

namespace {

constexpr std::int64_t kLastChunkNumberOfRun = 999;

// Shortest decimal text that reads back as the same double, e.g. "65" or "5.01".
std::string shortestDecimal(double value) {
    char text[64] = {};
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

ChunkedAudioWriter::ChunkedAudioWriter(Configuration configuration,
                                       std::shared_ptr<MediaFileWriterFactory> writerFactory,
                                       WallClock wallClock)
    : configuration_(std::move(configuration)), writerFactory_(std::move(writerFactory)),
      wallClock_(wallClock ? std::move(wallClock)
                           : WallClock([] { return std::chrono::system_clock::now(); })),
      chunkStartDate_(wallClock_()) {}

ChunkedAudioWriter::~ChunkedAudioWriter() {
    if (writer_) {
        closeChunk(true);
    }
}

std::expected<void, ChunkWriterError> ChunkedAudioWriter::rotateIfNeeded(const MediaTime& pts) {
    if (hasClosedFinalChunk_) {
        return {};
    }
    if (!writer_) {
        return openChunk(pts);
    }
    if (writer_->status() == MediaWriterStatus::failed) {
        // The open chunk can take no more audio (the disk is full, the folder is gone or
        // read-only). It is closed, so its finish reports the failure and removes the partial
        // file, and the failure is raised: the owner must not record on into nothing.
        const std::optional<PlatformError> error = writer_->error();
        closeChunk(false);
        return std::unexpected(ChunkWriterError::writerFailed(error));
    }
    const double elapsedSeconds = subtract(pts, chunkStartPTS_).seconds();
    if (!std::isfinite(elapsedSeconds)) {
        return {};
    }
    if (configuration_.chunkDuration <= elapsedSeconds) {
        const std::int64_t closingNumber = chunkNumber_;
        const bool endsRun = closingNumber >= kLastChunkNumberOfRun;
        closeChunk(endsRun);
        if (endsRun) {
            // The next chunk starts a new run: number 001 with the START mark.
            chunkNumber_ = 0;
        }
        return openChunk(pts);
    }
    return {};
}

std::expected<void, ChunkWriterError> ChunkedAudioWriter::openChunk(const MediaTime& pts) {
    const std::filesystem::path partialPath =
        configuration_.directory / ChunkFileName::partialFileName(makeUUIDString());
    // The record exists before the file does, so a partial file is never without one.
    chunkStartDate_ = wallClock_();
    writeRecord(partialPath, chunkNumber_ + 1);

    auto created = writerFactory_->create(partialPath, configuration_.fileType);
    if (!created) {
        PartialChunkRecord::removeBeside(partialPath);
        return std::unexpected(ChunkWriterError(std::move(created.error())));
    }
    std::shared_ptr<MediaFileWriter> writer = std::move(*created);

    auto started = writer->startWriting(configuration_.outputSettings, pts);
    if (!started) {
        // The file is ours alone (a fresh hidden name); do not leave a broken one behind.
        removePartialFile(partialPath);
        const bool unsupported = started.error().kind == PlatformError::Kind::unsupportedFormat;
        return std::unexpected(unsupported ? ChunkWriterError::cannotAddInput()
                                           : ChunkWriterError::writerFailed(started.error()));
    }

    writer_ = std::move(writer);
    input_ = std::move(*started);
    partialPath_ = partialPath;
    chunkStartPTS_ = pts;
    chunkNumber_ += 1;
    didAppendToCurrentChunk_ = false;
    owedSilenceSeconds_ = 0;
    logInfo(lcStorage(), "🔖 Chunk " + std::to_string(chunkNumber_) + " open");
    return {};
}

bool ChunkedAudioWriter::append(const SampleBufferPtr& buffer) {
    if (!input_ || !buffer) {
        return false;
    }
    const auto& format = buffer->format();
    const double durationSeconds =
        format && format->sampleRate > 0 ? buffer->numSamples() / format->sampleRate : 0;
    if (!input_->isReadyForMoreMediaData() || (format && !payOwedSilence(*input_, *format, false))) {
        noteDroppedAudio(durationSeconds);
        return false;
    }
    if (input_->append(buffer)) {
        didAppendToCurrentChunk_ = true;
        appendedSampleCount_ += 1;
        lastFormat_ = format;
        return true;
    }
    if (!hasReportedAppendFailure_) {
        hasReportedAppendFailure_ = true;
        reportAppendFailure(*buffer);
    }
    return false;
}

void ChunkedAudioWriter::noteDroppedAudio(double durationSeconds) {
    if (!input_ || !(durationSeconds > 0)) {
        return;
    }
    owedSilenceSeconds_ += durationSeconds;
    droppedBufferCount_ += 1;
}

bool ChunkedAudioWriter::payOwedSilence(MediaWriterInput& input, const StreamDescription& format,
                                        bool evenIfNotReady) {
    constexpr double kPieceSeconds = 1.0;
    bool paidSilence = false;
    while (owedSilenceSeconds_ > 0) {
        if (!evenIfNotReady && !input.isReadyForMoreMediaData()) {
            return false;
        }
        const double pieceSeconds = std::min(owedSilenceSeconds_, kPieceSeconds);
        const auto frames = static_cast<std::int64_t>(std::llround(pieceSeconds * format.sampleRate));
        if (frames <= 0 || format.bytesPerFrame == 0) {
            owedSilenceSeconds_ = 0;
            break;
        }
        auto silence = std::make_shared<const SampleBuffer>(
            format, std::vector<std::byte>(static_cast<std::size_t>(frames) * format.bytesPerFrame), frames,
            MediaTime::invalid());
        if (!input.append(silence)) {
            return false;
        }
        owedSilenceSeconds_ -= pieceSeconds;
        paidSilence = true;
    }
    owedSilenceSeconds_ = 0;
    if (!hasLoggedDrops_ && paidSilence) {
        hasLoggedDrops_ = true;
        logWarning(lcStorage(),
                   "⚠️ The encoder fell behind: " + std::to_string(droppedBufferCount_) +
                       " buffers dropped and replaced by silence, so the chunk keeps its length");
    }
    return true;
}

void ChunkedAudioWriter::writeRecord(const std::filesystem::path& partialPath,
                                     std::int64_t chunkNumber) const {
    const PartialChunkRecord record{
        .stem = ChunkFileName::baseStem(configuration_.deviceID, chunkStartDate_, chunkNumber),
        .chunkNumber = chunkNumber,
        .extension = configuration_.fileExtension,
        .filing = configuration_.filing,
        .owner = ProcessIdentity::current(),
    };
    // Without its record a chunk cannot be recovered after a crash, but it is still recorded.
    if (const std::error_code error = record.writeBeside(partialPath)) {
        logWarning(lcStorage(), "⚠️ Recovery record of chunk " + std::to_string(chunkNumber) +
                                    " not written: " + error.message());
    }
}

void ChunkedAudioWriter::setFiling(std::optional<ChunkFiling> filing) {
    if (configuration_.filing == filing) {
        return;
    }
    configuration_.filing = std::move(filing);
    if (partialPath_) {
        writeRecord(*partialPath_, chunkNumber_);
    }
}

void ChunkedAudioWriter::reportAppendFailure(const SampleBuffer& buffer) {
    const std::optional<PlatformError> error = writer_->error();
    const MediaTime& pts = buffer.presentationTime();
    logCritical(lcStorage(), "❌ append failed after " + std::to_string(appendedSampleCount_) +
                                 " buffers\n   writer status: " + describeWriterStatus(writer_->status()) +
                                 "\n   pts: " + shortestDecimal(pts.seconds()) + "s (" +
                                 std::to_string(pts.value) + "/" + std::to_string(pts.timescale) +
                                 ")\n   samples: " + std::to_string(buffer.numSamples()) +
                                 "\n   error: " + describeError(error ? &*error : nullptr));
    if (onError) {
        onError(ChunkWriterError::writerFailed(error));
    }
}

void ChunkedAudioWriter::closeCurrentChunk(ChunkClose close) {
    const bool isFinal = close == ChunkClose::final;
    closeChunk(isFinal);
    if (isFinal) {
        hasClosedFinalChunk_ = true;
    }
}

void ChunkedAudioWriter::closeChunk(bool isFinal) {
    if (!writer_ || !input_ || !partialPath_) {
        return;
    }
    std::shared_ptr<MediaFileWriter> writer = std::move(writer_);
    std::shared_ptr<MediaWriterInput> input = std::move(input_);
    const std::filesystem::path partialPath = std::move(*partialPath_);
    writer_.reset();
    input_.reset();
    partialPath_.reset();

    if (!didAppendToCurrentChunk_) {
        discardEmptyChunk(*writer, partialPath);
        return;
    }

    ChunkFileName finalName = ChunkFileName::make(configuration_.deviceID, chunkStartDate_, chunkNumber_,
                                                  isFinal, configuration_.fileExtension);
    logInfo(lcStorage(), "🔖 closing chunk " + std::to_string(chunkNumber_) + " after " +
                             std::to_string(appendedSampleCount_) + " buffers → " + finalName.fileName());
    appendedSampleCount_ = 0;
    if (lastFormat_) {
        (void)payOwedSilence(*input, *lastFormat_, true);
    }
    input->markAsFinished();

    auto finalization = std::make_shared<ChunkFinalization>(
        std::move(writer), configuration_.directory, partialPath, chunkNumber_, std::move(finalName),
        ChunkFinalization::Outcome{onChunkFinished, onError, finishedChunkCount_, finalizations_});
    finalization->start();
}

void ChunkedAudioWriter::whenFinalized(std::function<void()> callback) {
    finalizations_->whenIdle(std::move(callback));
}

void ChunkedAudioWriter::discardEmptyChunk(MediaFileWriter& writer,
                                           const std::filesystem::path& partialPath) {
    writer.cancelWriting();
    removePartialFile(partialPath);
    chunkNumber_ = std::max<std::int64_t>(chunkNumber_ - 1, 0);
    logWarning(lcStorage(), "⚠️ Chunk closed with no samples; discarded");
}

} // namespace veltrane
