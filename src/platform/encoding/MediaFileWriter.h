#pragma once

#include "platform/core/PlatformError.h"
#include "platform/encoding/AudioOutputSettings.h"
#include "platform/media/SampleBuffer.h"

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

namespace veltrane {

enum class MediaFileType { wave, appleM4A };

// Status numbers as reported in diagnostics: 0 unknown, 1 writing, 2 completed, 3 failed,
// 4 cancelled.
enum class MediaWriterStatus : int { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

// The audio input of one started media file writer. Called from the owner's serial queue only.
class MediaWriterInput {
public:
    virtual ~MediaWriterInput() = default;

    // True while the writer can take another buffer without blocking (its queue has room).
    [[nodiscard]] virtual bool isReadyForMoreMediaData() const = 0;
    // Takes the buffer for encoding; false when it is refused (not writing, wrong format,
    // the encoder failed). The buffer's presentation time places it on the file's timeline.
    [[nodiscard]] virtual bool append(const SampleBufferPtr& buffer) = 0;
    virtual void markAsFinished() = 0;
};

// Writes one media file (one chunk). Created for a path and a container type; started once,
// with the audio's settings and the source time at which the file's timeline starts.
//
// Lifetime: the object may be released on any thread at any time, including from inside its
// own finish completion; a finish already requested still runs to the end and calls its
// completion.
class MediaFileWriter {
public:
    virtual ~MediaFileWriter() = default;

    // Opens the file and the encoder for audio in `settings` and returns the input that takes
    // it. Fails with kind unsupportedFormat when the settings cannot be written into this
    // writer's container, and otherwise when the file or the encoder cannot be opened or the
    // writer was started or cancelled before.
    [[nodiscard]] virtual std::expected<std::shared_ptr<MediaWriterInput>, PlatformError>
    startWriting(const AudioOutputSettings& settings, const MediaTime& sourceTime) = 0;
    // Encodes what is still queued, writes the trailer and closes the file, without blocking
    // the caller. `completion` runs once, on the writer's own thread, after status() has
    // become Completed or Failed.
    virtual void finishWriting(std::function<void()> completion) = 0;
    // Stops writing and drops queued data; the partial file stays for the caller to delete.
    virtual void cancelWriting() = 0;
    [[nodiscard]] virtual MediaWriterStatus status() const = 0;
    [[nodiscard]] virtual std::optional<PlatformError> error() const = 0;
};

// What repairing an interrupted file came to.
enum class RepairOutcome { repaired, holdsNoAudio };

// While a file is written, what has been encoded reaches the disk about every second, so a
// process that dies loses little. A container that is unreadable until its end is written
// (M4A) keeps a fragmented copy beside the file for that purpose, named by this function; it
// is removed whenever the writer closes normally.
[[nodiscard]] std::filesystem::path recoveryCopyPath(const std::filesystem::path& path);

// Creates media file writers; the seam that tests replace with a fake.
class MediaFileWriterFactory {
public:
    virtual ~MediaFileWriterFactory() = default;
    [[nodiscard]] virtual std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
    create(const std::filesystem::path& path, MediaFileType fileType) = 0;

    // Makes a normal, playable file at `path` out of what a writer left there when its process
    // died: the audio that reached the disk, up to its last whole piece. HoldsNoAudio when there
    // was none (nothing is left at `path` then). Fails when the file cannot be read as what it
    // should be; it is then left as it is, with its recovery copy.
    [[nodiscard]] virtual std::expected<RepairOutcome, PlatformError>
    repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) = 0;
};

} // namespace veltrane
