#pragma once

#include "devserver/IdGenerator.h"
#include "devserver/IncomingFile.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane::devserver {

// Where uploaded files are kept: <data>/<project id>/<meeting id or "no-meeting">/<file name>.
// Files being received wait in <data>/.incoming/.
class UploadStore {
public:
    UploadStore(std::filesystem::path dataDir, IdGenerator& ids);

    // Creates the folders; false when that fails.
    [[nodiscard]] bool prepare() const;
    [[nodiscard]] std::unique_ptr<IncomingFile> receive() const;
    [[nodiscard]] std::filesystem::path destination(const std::string& projectId,
                                                    const std::optional<std::string>& meetingId,
                                                    const std::string& fileName) const;
    // A plain name: not empty, no path separator, no "..", no control characters.
    [[nodiscard]] static bool isSafeFileName(std::string_view name);

private:
    std::filesystem::path dataDir_;
    IdGenerator& ids_;
};

} // namespace veltrane::devserver
