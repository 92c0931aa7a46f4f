#pragma once

#include "platform/encoding/MediaFileWriter.h"
#include "storage/ChunkFileName.h"
#include "storage/StorageErrors.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

namespace veltrane {

// Counts the chunk finalisations of one writer that are still in flight and tells waiters when
// the last one has ended. Shared between the writer and its finalisations, which end on
// media-writer completion threads.
class FinalizationTracker {
public:
    void begin();
    // Ends one finalisation; when none is left, runs the waiting callbacks on this thread.
    void end();
    // Runs `callback` once no finalisation is in flight: at once (on this thread) when none
    // is, otherwise on the thread that ends the last one.
    void whenIdle(std::function<void()> callback);

private:
    std::mutex mutex_;
    int pending_ = 0;
    std::vector<std::function<void()>> waiting_;
};

// Finishes one closed chunk: waits for the media writer's asynchronous finish, then moves the
// partial file to its final name (or to a collision name) and reports the outcome.
//
// Everything it needs is copied in when the chunk is closed, and the completion handed to the
// media writer owns this object, so the chunk is finished and reported even when the
// ChunkedAudioWriter that closed it is gone by then. Runs on the media writer's completion
// thread; it shares nothing with the ChunkedAudioWriter except the atomic finished count.
class ChunkFinalization : public std::enable_shared_from_this<ChunkFinalization> {
public:
    struct Outcome {
        std::function<void(const std::filesystem::path&)> onChunkFinished;
        std::function<void(const ChunkWriterError&)> onError;
        std::shared_ptr<std::atomic<std::int64_t>> finishedChunkCount;
        // Told when this finalisation has ended (after its reports); may be null.
        std::shared_ptr<FinalizationTracker> tracker;
    };

    ChunkFinalization(std::shared_ptr<MediaFileWriter> writer, std::filesystem::path directory,
                      std::filesystem::path partialPath, std::int64_t chunkNumber, ChunkFileName finalName,
                      Outcome outcome);
    ChunkFinalization(const ChunkFinalization&) = delete;
    ChunkFinalization& operator=(const ChunkFinalization&) = delete;

    // Asks the media writer to finish; returns at once.
    void start();

private:
    void finishChunk();
    void reportFailedFinish();
    void promoteChunk();
    // The finished chunk could not be moved to its name: logs where its audio stays and
    // reports the file system's error.
    void keptInPartialFile(const std::error_code& moveError);
    void reportError(const ChunkWriterError& error) const;

    std::shared_ptr<MediaFileWriter> writer_;
    std::filesystem::path directory_;
    std::filesystem::path partialPath_;
    std::int64_t chunkNumber_ = 0;
    ChunkFileName finalName_;
    Outcome outcome_;
};

} // namespace veltrane
