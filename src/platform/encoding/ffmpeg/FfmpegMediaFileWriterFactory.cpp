#include "platform/encoding/ffmpeg/FfmpegMediaFileWriterFactory.h"

#include "platform/encoding/ffmpeg/FfmpegError.h"
#include "platform/encoding/ffmpeg/FfmpegFileRepair.h"
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <system_error>

namespace veltrane {

std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
FfmpegMediaFileWriterFactory::create(const std::filesystem::path& path, MediaFileType fileType) {
    const char* muxer = fileType == MediaFileType::Wave ? "wav" : "ipod";
    if (av_guess_format(muxer, nullptr, nullptr) == nullptr) {
        return std::unexpected(
            makeFfmpegError(AVERROR_MUXER_NOT_FOUND, std::string("no ") + muxer + " muxer"));
    }
    if (path.empty()) {
        return std::unexpected(makeFfmpegError(AVERROR(EINVAL), "no output file given"));
    }
    std::error_code statusError;
    if (std::filesystem::is_regular_file(path, statusError)) {
        return std::unexpected(makeFfmpegError(AVERROR(EEXIST), "the output file already exists"));
    }
    return std::make_shared<FfmpegMediaFileWriter>(path, fileType, activity_);
}

std::expected<RepairOutcome, PlatformError>
FfmpegMediaFileWriterFactory::repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) {
    return repairInterruptedFile(path, fileType);
}

bool FfmpegMediaFileWriterFactory::waitForPendingWriters(std::chrono::milliseconds limit) const {
    return activity_->waitUntilIdle(limit);
}

} // namespace veltrane
