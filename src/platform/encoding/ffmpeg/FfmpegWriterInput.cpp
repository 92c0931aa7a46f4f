#include "platform/encoding/ffmpeg/FfmpegWriterInput.h"

#include "platform/encoding/ffmpeg/FfmpegEncodingSession.h"

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

} // namespace veltrane
