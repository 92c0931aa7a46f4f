#pragma once

#include "platform/capture/CaptureSources.h"
#include "platform/core/PlatformError.h"
#include "platform/media/SampleBuffer.h"

#include <expected>
#include <functional>
#include <string>

namespace veltrane {

class SerialQueue;

// A running capture of system audio for one capture target. Audio arrives as interleaved
// 32-bit float sample buffers at the configured rate and channel count, with presentation
// times that advance continuously (timescale = sample rate) and follow wall-clock time:
// while the source plays nothing the stream delivers silence at the real rate.
//
// After the destructor returns, none of the stream's callbacks runs any more.
class SystemAudioStream {
public:
    using AudioHandler = std::function<void(const SampleBufferPtr& buffer)>;
    using Completion = std::function<void(const std::expected<void, PlatformError>& result)>;

    // What a running stream tells about itself: the sound server went away and is waited for,
    // it came back, or the followed output device changed (`detail` names the new device).
    struct Notice {
        enum class Kind { reconnecting, reconnected, deviceChanged };
        Kind kind = Kind::reconnecting;
        std::string detail;
    };
    using NoticeHandler = std::function<void(const Notice& notice)>;

    virtual ~SystemAudioStream() = default;

    // The audio is delivered by posting `handler` calls to `queue`, in order. Set before
    // startCapture; an error means the handler was refused.
    [[nodiscard]] virtual std::expected<void, PlatformError> setAudioHandler(SerialQueue& queue,
                                                                             AudioHandler handler) = 0;
    // Notices are delivered on a platform thread. Set before startCapture.
    virtual void setNoticeHandler(NoticeHandler handler) { (void)handler; }
    // Completions run once, on a platform thread.
    virtual void startCapture(Completion completion) = 0;
    virtual void stopCapture(Completion completion) = 0;
};

} // namespace veltrane
