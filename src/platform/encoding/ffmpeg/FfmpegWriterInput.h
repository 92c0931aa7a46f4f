#pragma once

#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <atomic>
#include <memory>

namespace veltrane {

class FfmpegEncodingSession;

// The audio input of an FfmpegMediaFileWriter. Appended buffers go into the writer's queue;
// encoding happens on the writer's own thread. Takes buffers only once the writer has added
// it (addInput), started writing and started its timeline.
class FfmpegWriterInput final : public MediaWriterInput {
public:
    FfmpegWriterInput(std::shared_ptr<FfmpegEncodingSession> session, AudioOutputSettings settings);

    [[nodiscard]] const AudioOutputSettings& outputSettings() const override { return settings_; }
    // Accepted for compatibility; buffers are always queued, never waited for.
    void setExpectsMediaDataInRealTime(bool realTime) override { expectsRealTime_ = realTime; }
    [[nodiscard]] bool isReadyForMoreMediaData() const override;
    [[nodiscard]] bool append(const SampleBufferPtr& buffer) override;
    void markAsFinished() override;

    [[nodiscard]] bool expectsMediaDataInRealTime() const { return expectsRealTime_; }
    [[nodiscard]] bool belongsTo(const FfmpegEncodingSession& session) const {
        return session_.get() == &session;
    }
    [[nodiscard]] bool isAttached() const { return attached_; }
    // Called by the writer's addInput.
    void attach() { attached_ = true; }

private:
    std::shared_ptr<FfmpegEncodingSession> session_;
    AudioOutputSettings settings_;
    bool expectsRealTime_ = false;
    std::atomic<bool> attached_ = false;
};

} // namespace veltrane
