#pragma once

#include "platform/encoding/MediaFileWriter.h"

#include <QByteArray>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

// The project and meeting a chunk is filed under on the server: kept in the recovery record of the
// chunk being written, reported with each finished chunk and handed to the upload queue.
struct ChunkFiling {
    std::string projectId;
    std::optional<std::string> projectName;
    std::optional<std::string> meetingId;
    std::optional<std::string> meetingName;

    bool operator==(const ChunkFiling&) const = default;
};

// A process as recorded beside the chunk it writes. The start time (in clock ticks since boot)
// and the boot's identifier tell a process that is gone from a later one that was given the
// same number.
struct ProcessIdentity {
    std::int64_t processID = 0;
    std::int64_t startTicks = 0;
    std::string bootID;

    [[nodiscard]] static ProcessIdentity current();
    [[nodiscard]] bool isRunning() const;
};

// What recovery needs to finish a chunk whose process died while writing it. Kept beside the
// chunk's hidden partial file (same name plus ".json") from before the file is created until
// the chunk has its final name, and replaced atomically whenever it changes.
struct PartialChunkRecord {
    std::string stem; // the final name's stem without its START/STOP mark
    std::int64_t chunkNumber = 0;
    std::string extension; // "wav" or "m4a"
    std::optional<ChunkFiling> filing;
    ProcessIdentity owner;

    [[nodiscard]] QByteArray toJson() const;
    [[nodiscard]] static std::optional<PartialChunkRecord> fromJson(const QByteArray& json);

    [[nodiscard]] static std::filesystem::path pathBeside(const std::filesystem::path& partialPath);
    // Writes the record beside `partialPath`, synced; the file system's error on failure.
    [[nodiscard]] std::error_code writeBeside(const std::filesystem::path& partialPath) const;
    static void removeBeside(const std::filesystem::path& partialPath);
};

// A chunk that recovery gave its name.
struct RecoveredChunk {
    std::filesystem::path path;
    std::optional<ChunkFiling> filing;
};

// Whether chunks filed under a project are recovered: only a process that holds the upload
// queue can queue them, so one that does not leaves them for the next that does.
enum class FiledChunks { recover, leave };

// Finishes the chunks in `directory` whose process died while writing them: each partial file
// is repaired and moved to the name it would have had as its recording's last chunk (a taken
// name gets the usual collision name). A partial without audio is removed; one that cannot be
// repaired is moved aside under a name ending in "-unrecoverable-<id>.<ext>.partial", never
// deleted. Partials of running processes, and those without a record, are left alone. Every
// outcome is logged. Returns the recovered chunks in the order of their names.
[[nodiscard]] std::vector<RecoveredChunk> recoverInterruptedChunks(const std::filesystem::path& directory,
                                                                   MediaFileWriterFactory& repairer,
                                                                   FiledChunks filedChunks);

} // namespace veltrane
