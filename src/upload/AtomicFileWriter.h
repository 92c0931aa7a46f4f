#pragma once

#include <filesystem>
#include <string_view>

namespace veltrane {

// Replaces a file atomically: the bytes go to a temporary file beside the target, which is
// flushed to disk and then renamed over the target, so a crash leaves the old or the new
// content, never a mixture. Writing may happen in pieces, so large files need not be held in
// memory. A writer that is destroyed without a successful commit removes its temporary file.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file. False when it cannot be created.
    [[nodiscard]] bool open();
    // Appends bytes. False on any error (the writer is then unusable).
    [[nodiscard]] bool write(std::string_view bytes);
    // Flushes, closes and renames over the target, then flushes the directory entry.
    [[nodiscard]] bool commit();

    // Convenience: the whole content at once.
    [[nodiscard]] static bool writeWhole(const std::filesystem::path& target, std::string_view bytes);

private:
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int descriptor_ = -1;
    bool failed_ = false;
};

} // namespace veltrane
