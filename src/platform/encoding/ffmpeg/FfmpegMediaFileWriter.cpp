#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

#include "platform/encoding/ffmpeg/FfmpegEncoderConfig.h"
#include "platform/encoding/ffmpeg/FfmpegEncodingSession.h"
#include "platform/encoding/ffmpeg/FfmpegWriterInput.h"

namespace veltrane {

FfmpegMediaFileWriter::FfmpegMediaFileWriter(std::filesystem::path path, MediaFileType fileType,
                                             std::shared_ptr<FfmpegWriterActivity> activity)
    : session_(std::make_shared<FfmpegEncodingSession>(std::move(path), fileType, std::move(activity))) {}

FfmpegMediaFileWriter::~FfmpegMediaFileWriter() {
    session_->releaseByOwner();
}

std::shared_ptr<MediaWriterInput> FfmpegMediaFileWriter::makeAudioInput(const AudioOutputSettings& settings) {
    return std::make_shared<FfmpegWriterInput>(session_, settings);
}

bool FfmpegMediaFileWriter::canAddInput(const MediaWriterInput& input) const {
    const auto* ours = dynamic_cast<const FfmpegWriterInput*>(&input);
    return ours != nullptr && ours->belongsTo(*session_) && !input_ &&
           session_->status() == MediaWriterStatus::Unknown &&
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

} // namespace veltrane
