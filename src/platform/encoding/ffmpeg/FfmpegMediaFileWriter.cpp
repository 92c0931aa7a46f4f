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

FfmpegWriterInput::FfmpegWriterInput(std::shared_ptr<FfmpegEncodingSession> session,
                                     AudioOutputSettings settings)
    : session_(std::move(session)), settings_(std::move(settings)) {}

bool FfmpegWriterInput::isReadyForMoreMediaData() const {
    return attached_ && session_->isReadyForMoreMediaData();
}

bool FfmpegWriterInput::append(const SampleBufferPtr& buffer) {
    return attached_ && session_->enqueue(buffer);
}

void FfmpegWriterInput::markAsFinished() {
    if (attached_) {
        session_->markInputFinished();
    }
}

FfmpegMediaFileWriter::FfmpegMediaFileWriter(std::filesystem::path path, MediaFileType fileType)
    : session_(std::make_shared<FfmpegEncodingSession>(std::move(path), fileType)) {}

FfmpegMediaFileWriter::~FfmpegMediaFileWriter() {
    session_->releaseByOwner();
}

std::shared_ptr<MediaWriterInput> FfmpegMediaFileWriter::makeAudioInput(const AudioOutputSettings& settings) {
    return std::make_shared<FfmpegWriterInput>(session_, settings);
}

bool FfmpegMediaFileWriter::canAddInput(const MediaWriterInput& input) const {
    const auto* ours = dynamic_cast<const FfmpegWriterInput*>(&input);
    return ours != nullptr && ours->belongsTo(*session_) && !input_ &&
           session_->status() == MediaWriterStatus::unknown &&
           FfmpegEncoderConfig::resolve(session_->fileType(), ours->outputSettings()).has_value();
}

void FfmpegMediaFileWriter::addInput(std::shared_ptr<MediaWriterInput> input) {
    if (!input || !canAddInput(*input)) {
        return;
    }
    auto ours = std::static_pointer_cast<FfmpegWriterInput>(std::move(input));
    session_->configure(*FfmpegEncoderConfig::resolve(session_->fileType(), ours->outputSettings()));
    ours->attach();
    input_ = std::move(ours);
}

bool FfmpegMediaFileWriter::startWriting() {
    return session_->start();
}

void FfmpegMediaFileWriter::startSession(const MediaTime& sourceTime) {
    session_->startTimeline(sourceTime);
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
