#pragma once

#include <filesystem>
#include <optional>

namespace veltrane {

// The recording folder remembered in the user settings under "kDestinationBookmark" (the
// folder's absolute path), so that later upload runs know where the chunk files lie. Needs the
// application's organisation and name to be set first.
class UploadFolderSetting {
public:
    static constexpr const char* kKey = "kDestinationBookmark";

    // The remembered folder; absent when none is stored.
    [[nodiscard]] static std::optional<std::filesystem::path> load();
    // Remembers `folder` (made absolute). False when the settings could not be written.
    [[nodiscard]] static bool save(const std::filesystem::path& folder);
};

} // namespace veltrane
