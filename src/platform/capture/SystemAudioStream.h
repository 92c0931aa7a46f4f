#pragma once

#include "platform/capture/CaptureTypes.h"
#include "platform/core/PlatformError.h"
#include "platform/media/SampleBuffer.h"

#include <functional>
#include <optional>
#include <string>

namespace veltrane {

class SerialQueue;

// A running capture of system audio for one content filter. Audio arrives as interleaved
// 32-bit float sample buffers at the configured rate and channel count, with presentation
// times that advance continuously (timescale = sample rate) and follow wall-clock time:
// while the source plays nothing the stream delivers silence at the real rate.
//
// After the destructor returns, none of the stream's callbacks runs any more.
class SystemAudioStream {
public:
    using OutputHandler = std::function<void(const SampleBufferPtr& buffer, StreamOutputType type)>;
    using Completion = std::function<void(const std::optional<PlatformError>& error)>;

    // What a running stream tells about itself: the sound server went away and is waited for,
    // it came back, or the followed output device changed (`detail` names the new device).
    struct Notice {
        enum class Kind { reconnecting, reconnected, deviceChanged };
        Kind kind = Kind::reconnecting;
        std::string detail;
    };
    using NoticeHandler = std::function<void(const Notice& notice)>;

    virtual ~SystemAudioStream() = default;

    // Buffers of `type` are delivered by posting `handler` calls to `queue`, in order.
    // An error means the output could not be added.
    [[nodiscard]] virtual std::optional<PlatformError>
    addStreamOutput(StreamOutputType type, SerialQueue& queue, OutputHandler handler) = 0;
    // Notices are delivered on a platform thread. Set before startCapture.
    virtual void setNoticeHandler(NoticeHandler handler) { (void)handler; }
    // Completions run once, on a platform thread.
    virtual void startCapture(Completion completion) = 0;
    virtual void stopCapture(Completion completion) = 0;
};

} // namespace veltrane
