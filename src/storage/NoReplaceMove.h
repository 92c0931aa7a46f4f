#pragma once

#include <filesystem>
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

} // namespace veltrane
