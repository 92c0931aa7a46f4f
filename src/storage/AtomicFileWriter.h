#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace veltrane {

// Moves `from` to `to` within one folder tree, refusing to replace a file that already exists
// at `to`: the check and the move are one step, so a file created there at any moment is never
// overwritten. Returns no error on success, std::errc::file_exists when `to` is taken (nothing
// has moved then), or the file system's error.
[[nodiscard]] std::error_code moveWithoutReplacing(const std::filesystem::path& from,
                                                   const std::filesystem::path& to);

// Removes the hidden partial file of a chunk that will not be finished, with its recovery
// copy and record. A file that is already gone is fine; one that cannot be removed (a folder
// made read-only) is named in a warning line, so it is never left behind unexplained.
void removePartialFile(const std::filesystem::path& path);

// Replaces a file atomically: the bytes go to a temporary file beside the target, which is
// flushed to disk and then renamed over the target, so a crash leaves the old or the new
// content, never a mixture. Writing may happen in pieces, so large files need not be held in
// memory. A writer that is destroyed without a successful commit removes its temporary file.
class AtomicFileWriter {
public:
    // Synced: the content and the rename reach the disk before commit() returns, so the file
    // survives a crash or power loss. ProcessOnly: readers never see a partial file, but the
    // data may still be in the page cache: for files rebuilt from their sources whenever they
    // are needed again (upload bodies), where flushing tens of megabytes would only cost time.
    enum class Durability { synced, processOnly };

    explicit AtomicFileWriter(std::filesystem::path target, Durability durability = Durability::synced);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file. False when it cannot be created.
    [[nodiscard]] bool open();
    // Appends bytes. False on any error (the writer is then unusable).
    [[nodiscard]] bool write(std::string_view bytes);
    // Flushes, closes and renames over the target, then flushes the directory entry.
    [[nodiscard]] bool commit();

    // Why the last open(), write() or commit() failed (for example "No space left on device").
    [[nodiscard]] std::error_code error() const { return error_; }

    // Convenience: the whole content at once.
    [[nodiscard]] static bool writeWhole(const std::filesystem::path& target, std::string_view bytes);

    // The target's file name when `fileName` is the name of a temporary file this class makes
    // ("<target>.tmp-<upper-case UUID>"); absent for any other name. A temporary that still
    // exists when no writer is running was left by an interrupted process.
    [[nodiscard]] static std::optional<std::string_view> targetOfTemporary(std::string_view fileName);

private:
    void discard();
    void fail(int errorNumber);

    std::filesystem::path target_;
    Durability durability_ = Durability::synced;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    bool failed_ = false;
    std::error_code error_;
};

} // namespace veltrane
