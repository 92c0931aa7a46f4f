#pragma once

#include "platform/encoding/MediaFileWriter.h"

namespace veltrane {

// Makes FfmpegMediaFileWriters. Creation fails when a regular file already exists at the path
// (a writer never overwrites a file); the file itself is created by startWriting().
class FfmpegMediaFileWriterFactory final : public MediaFileWriterFactory {
public:
    [[nodiscard]] std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
    create(const std::filesystem::path& path, MediaFileType fileType) override;
};

} // namespace veltrane
