#pragma once

#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"
#include "storage/ChunkFinalization.h"
#include "storage/ChunkRecovery.h"
#include "storage/StorageErrors.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace veltrane {

// How a chunk is closed: by rotation (the recording goes on) or as the recording's last chunk.
enum class ChunkClose { rotation, final };

// Turns one recording's stream of timestamped audio buffers into a sequence of chunk files of
// about `chunkDuration` seconds each. A chunk is written to a hidden partial file, finished off
// the capture path and then moved to its final name, which carries the device, the chunk's
// wall-clock start, a running number and a START/STOP mark.
//
// rotateIfNeeded(), append(), closeCurrentChunk() and input() must all be called from one
// serial context; the writer holds no lock. Finished chunks and failures of finishing are
// reported from the media writer's completion thread, possibly while the owner goes on
// calling, and also after the owner has released this object: every closed chunk that holds
// audio is always finished, moved and reported.
class ChunkedAudioWriter {
public:
    struct Configuration {
        std::string deviceID;
        std::filesystem::path directory;
        double chunkDuration = 300.0;
        AudioOutputSettings outputSettings;
        MediaFileType fileType = MediaFileType::wave;
        std::string fileExtension; // without the dot, e.g. "wav"
        // What the chunks are filed under, kept in each open chunk's recovery record.
        std::optional<ChunkFiling> filing;
    };

    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    using ChunkFinishedHandler = std::function<void(const std::filesystem::path&)>;
    using ErrorHandler = std::function<void(const ChunkWriterError&)>;

    // Opens nothing and creates no file. `wallClock` dates the chunks; the system clock when
    // empty.
    ChunkedAudioWriter(Configuration configuration, std::shared_ptr<MediaFileWriterFactory> writerFactory,
                       WallClock wallClock = {});
    // Closes a chunk that is still open as the final one, so its audio is not lost.
    ~ChunkedAudioWriter();
    ChunkedAudioWriter(const ChunkedAudioWriter&) = delete;
    ChunkedAudioWriter& operator=(const ChunkedAudioWriter&) = delete;

    // Assigned before the first buffer. Both may be called on a media writer's completion thread.
    ChunkFinishedHandler onChunkFinished;
    ErrorHandler onError;

    // Called for every buffer, before append(), with its presentation time: opens the first
    // chunk, or closes the open chunk and opens the next once `chunkDuration` seconds of media
    // time have passed. Fails when opening a chunk fails, and when the open chunk's media
    // writer has failed (disk full, folder gone): that chunk is then closed, its partial file
    // removed by its finish, and the owner is expected to stop. After the final close it does
    // nothing.
    [[nodiscard]] std::expected<void, ChunkWriterError> rotateIfNeeded(const MediaTime& pts);

    // True when the open chunk accepted the buffer; false when no chunk is open, the input is
    // not ready for more data, or the buffer was refused.
    //
    // A buffer that is dropped because the encoder has fallen behind (its queue is full) is
    // paid back with as much silence once it takes audio again, so the chunk still lasts the
    // time it covers; the first such catch-up is logged once, with the count of dropped buffers.
    [[nodiscard]] bool append(const SampleBufferPtr& buffer);
    // The owner dropped `durationSeconds` of audio before it reached append() because the
    // open chunk's input was not ready; it is paid back like a buffer append() dropped.
    void noteDroppedAudio(double durationSeconds);

    // Changes what the chunks are filed under, from the open chunk on (its recovery record is
    // written again).
    void setFiling(std::optional<ChunkFiling> filing);

    // Closes the open chunk, if any, and starts its finalisation without waiting for it.
    // ChunkClose::final marks the chunk as the recording's last and ends the writer's life:
    // later buffers open no further chunk.
    void closeCurrentChunk(ChunkClose close);

    // The open chunk's input, or null when no chunk is open.
    [[nodiscard]] std::shared_ptr<MediaWriterInput> input() const { return input_; }

    [[nodiscard]] const Configuration& configuration() const { return configuration_; }
    // Chunks moved to their own final name so far (collision names are not counted).
    [[nodiscard]] std::int64_t finishedChunkCount() const { return finishedChunkCount_->load(); }

    // Runs `callback` once every chunk closed so far has been finished and reported (or its
    // failure reported): at once on the calling thread when none is in flight, otherwise on
    // the completion thread of the last one. Works after this object is gone too.
    void whenFinalized(std::function<void()> callback);

private:
    [[nodiscard]] std::expected<void, ChunkWriterError> openChunk(const MediaTime& pts);
    void closeChunk(bool isFinal);
    void discardEmptyChunk(MediaFileWriter& writer, const std::filesystem::path& partialPath);
    void reportAppendFailure(const SampleBuffer& buffer);
    // Writes the recovery record of chunk `chunkNumber`, started at chunkStartDate_.
    void writeRecord(const std::filesystem::path& partialPath, std::int64_t chunkNumber) const;
    // Appends owed silence in `format` while `input` takes it (or regardless, for a chunk
    // being closed); true when nothing is owed any more.
    [[nodiscard]] bool payOwedSilence(MediaWriterInput& input, const StreamDescription& format,
                                      bool evenIfNotReady);

    Configuration configuration_;
    std::shared_ptr<MediaFileWriterFactory> writerFactory_;
    WallClock wallClock_;

    std::shared_ptr<MediaFileWriter> writer_;
    std::shared_ptr<MediaWriterInput> input_;
    std::optional<std::filesystem::path> partialPath_;
    MediaTime chunkStartPTS_ = MediaTime::invalid();
    std::chrono::system_clock::time_point chunkStartDate_;
    std::int64_t chunkNumber_ = 0;
    bool didAppendToCurrentChunk_ = false;
    std::int64_t appendedSampleCount_ = 0;
    bool hasReportedAppendFailure_ = false;
    bool hasClosedFinalChunk_ = false;
    double owedSilenceSeconds_ = 0;
    std::int64_t droppedBufferCount_ = 0;
    bool hasLoggedDrops_ = false;
    std::optional<StreamDescription> lastFormat_;
    // Shared with the finalisations in flight, which count on the completion threads.
    std::shared_ptr<FinalizationTracker> finalizations_ = std::make_shared<FinalizationTracker>();
    std::shared_ptr<std::atomic<std::int64_t>> finishedChunkCount_ =
        std::make_shared<std::atomic<std::int64_t>>(0);
};

} // namespace veltrane
