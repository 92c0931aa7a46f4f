#pragma once

#include "platform/core/PlatformError.h"
#include "platform/media/SampleBuffer.h"

#include <functional>

namespace veltrane {

class SerialQueue;

// A capture session on one microphone. Buffers arrive in the device's own sample format,
// rate and channel count (interleaved), with presentation times in frames of that rate.
//
// After the destructor returns, none of the session's callbacks runs any more.
class MicrophoneCapture {
public:
    using BufferHandler = std::function<void(const SampleBufferPtr& buffer)>;
    using DisconnectHandler = std::function<void(const PlatformError& error)>;

    virtual ~MicrophoneCapture() = default;

    // Buffers are delivered by posting `handler` calls to `queue`, in order.
    virtual void setSampleBufferHandler(SerialQueue& queue, BufferHandler handler) = 0;
    // Called once, on a platform thread, when the device goes away while running.
    virtual void setDisconnectHandler(DisconnectHandler handler) = 0;
    // May block briefly (bounded); call off the main thread.
    virtual void startRunning() = 0;
    virtual void stopRunning() = 0;
    [[nodiscard]] virtual bool isRunning() const = 0;
};

} // namespace veltrane
