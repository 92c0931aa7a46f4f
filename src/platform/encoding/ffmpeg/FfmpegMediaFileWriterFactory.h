#pragma once

#include "platform/encoding/MediaFileWriter.h"
#include "platform/encoding/ffmpeg/FfmpegWriterActivity.h"

#include <chrono>
#include <memory>

namespace veltrane {

// Makes FfmpegMediaFileWriters. Creation fails when a regular file already exists at the path
// (a writer never overwrites a file); the file itself is created by startWriting().
class FfmpegMediaFileWriterFactory final : public MediaFileWriterFactory {
public:
    [[nodiscard]] std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
    create(const std::filesystem::path& path, MediaFileType fileType) override;
    [[nodiscard]] std::expected<RepairOutcome, PlatformError>
    repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) override;

    // Waits until no writer made here is writing or finishing any more (every requested
    // finish has written its file and run its completion); false when `limit` passes first.
    // For shutdown, after the last recording has been stopped.
    [[nodiscard]] bool waitForPendingWriters(std::chrono::milliseconds limit) const;

private:
    std::shared_ptr<FfmpegWriterActivity> activity_ = std::make_shared<FfmpegWriterActivity>();
};

} // namespace veltrane
