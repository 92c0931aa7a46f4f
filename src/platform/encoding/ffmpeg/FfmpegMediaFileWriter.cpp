#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"
#include "platform/encoding/ffmpeg/FfmpegEncodingSession.h"
#include "platform/encoding/ffmpeg/FfmpegFileRepair.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <system_error>

namespace veltrane {

FfmpegWriterInput::FfmpegWriterInput(std::shared_ptr<FfmpegEncodingSession> session)
    : session_(std::move(session)) {}

bool FfmpegWriterInput::isReadyForMoreMediaData() const {
    return session_->isReadyForMoreMediaData();
}

bool FfmpegWriterInput::append(const SampleBufferPtr& buffer) {
    return session_->enqueue(buffer);
}

void FfmpegWriterInput::markAsFinished() {
    session_->markInputFinished();
}

FfmpegMediaFileWriter::FfmpegMediaFileWriter(std::filesystem::path path, MediaFileType fileType)
    : session_(std::make_shared<FfmpegEncodingSession>(std::move(path), fileType)) {}

FfmpegMediaFileWriter::~FfmpegMediaFileWriter() {
    session_->releaseByOwner();
}

std::expected<std::shared_ptr<MediaWriterInput>, PlatformError>
FfmpegMediaFileWriter::startWriting(const AudioOutputSettings& settings, const MediaTime& sourceTime) {
    if (input_ || session_->status() != MediaWriterStatus::unknown) {
        return std::unexpected(
            makeFfmpegError(AVERROR(EINVAL), "the writer was started or cancelled before"));
    }
    const auto config = FfmpegEncoderConfig::resolve(session_->fileType(), settings);
    if (!config) {
        PlatformError error = makeFfmpegError(AVERROR(EINVAL), config.error());
        error.kind = PlatformError::Kind::unsupportedFormat;
        return std::unexpected(std::move(error));
    }
    session_->configure(*config);
    if (!session_->start()) {
        return std::unexpected(session_->error().value_or(
            makeFfmpegError(AVERROR(ECANCELED), "the writer was cancelled while it started")));
    }
    session_->startTimeline(sourceTime);
    input_ = std::make_shared<FfmpegWriterInput>(session_);
    return input_;
}

void FfmpegMediaFileWriter::finishWriting(std::function<void()> completion) {
    session_->finish(std::move(completion));
}

void FfmpegMediaFileWriter::cancelWriting() {
    session_->cancel();
}

MediaWriterStatus FfmpegMediaFileWriter::status() const {
    return session_->status();
}

std::optional<PlatformError> FfmpegMediaFileWriter::error() const {
    return session_->error();
}

const std::filesystem::path& FfmpegMediaFileWriter::path() const {
    return session_->path();
}

std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
FfmpegMediaFileWriterFactory::create(const std::filesystem::path& path, MediaFileType fileType) {
    const char* muxer = fileType == MediaFileType::wave ? "wav" : "ipod";
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
    return std::make_shared<FfmpegMediaFileWriter>(path, fileType);
}

std::expected<RepairOutcome, PlatformError>
FfmpegMediaFileWriterFactory::repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) {
    return repairInterruptedFile(path, fileType);
}

} // namespace veltrane
