#pragma once

#include "platform/capture/CaptureSources.h"
#include "platform/capture/MicrophoneCapture.h"
#include "platform/capture/pulse/PulseRecordStream.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/media/SampleBuffer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

struct pa_source_info;

namespace veltrane {

class PulseConnection;

// The sample layout in which a microphone is recorded: as close to the device's own format
// as the buffers can describe (little-endian, interleaved, packed).
struct MicrophoneFormat {
    enum class Encoding { int16, int32, float32 };

    Encoding encoding = Encoding::float32;
    StreamDescription description;

    // `deviceFormat` is the sound server's name of the device's sample format ("s16le",
    // "float32le", "s24le", ...): 16-bit devices record as 16-bit integers, 24- and 32-bit
    // integer devices as 32-bit integers, everything else as 32-bit float.
    [[nodiscard]] static MicrophoneFormat forDevice(std::string_view deviceFormat, std::uint32_t sampleRate,
                                                    std::uint32_t channels);

    [[nodiscard]] std::uint32_t bytesPerSample() const { return description.bitsPerChannel / 8; }
};

// One microphone (a PulseAudio source that is not a monitor), recorded in the device's own
// rate, channel count and sample type as far as MicrophoneFormat can describe it. When the
// device goes away while running (unplugged, or the sound server restarted), the disconnect is
// reported and the capture watches for a device of the same name to come back, then records it
// again. The default input (kDefaultInputDeviceName) follows the server's default.
class PulseMicrophoneCapture final : public MicrophoneCapture {
public:
    // Looks the device up; fails when the server or the device is not there.
    [[nodiscard]] static std::expected<std::unique_ptr<PulseMicrophoneCapture>, PlatformError>
    create(const InputDevice& device, std::chrono::milliseconds timeout);

    ~PulseMicrophoneCapture() override;
    PulseMicrophoneCapture(const PulseMicrophoneCapture&) = delete;
    PulseMicrophoneCapture& operator=(const PulseMicrophoneCapture&) = delete;

    void setSampleBufferHandler(SerialQueue& queue, BufferHandler handler) override;
    void setDisconnectHandler(DisconnectHandler handler) override;
    void startRunning() override;
    void stopRunning() override;
    [[nodiscard]] bool isRunning() const override { return running_.load(); }

    [[nodiscard]] const MicrophoneFormat& format() const { return format_; }

private:
    PulseMicrophoneCapture(InputDevice device, std::chrono::milliseconds timeout);

    static constexpr std::chrono::milliseconds kReturnPoll{500};

    [[nodiscard]] std::expected<void, PlatformError> lookUp();
    // Closes the stream and the connection (control mutex held, connection lock not).
    void dropConnection();
    // On the events thread after a disconnect: until stopped, looks for the device every
    // kReturnPoll and records it again once it is back.
    void watchForReturn();
    // On the events thread: records the server's new default input.
    void followDefault();
    [[nodiscard]] std::string displayName() const;
    [[nodiscard]] std::expected<void, PlatformError> connectStream();
    void reportDisconnect(const PlatformError& error);
    void onSourceInfo(const pa_source_info* info);
    void onEvent(unsigned facility, unsigned type, std::uint32_t index);
    void onReadable();
    void onState(pa_stream_state_t state);

    const InputDevice device_;
    const std::chrono::milliseconds timeout_;
    const std::shared_ptr<CallbackGate> gate_ = std::make_shared<CallbackGate>();
    std::atomic<bool> running_ = false;
    std::mutex controlMutex_; // one start or stop at a time (a start releases the server lock while it waits)
    std::mutex watchMutex_;
    std::condition_variable watchWake_; // a stop ends the watch for the device's return

    std::mutex handlerMutex_;
    SerialQueue* queue_ = nullptr;
    std::shared_ptr<const BufferHandler> bufferHandler_;
    std::shared_ptr<const DisconnectHandler> disconnectHandler_;

    // Guarded by the connection's lock.
    std::unique_ptr<PulseConnection> connection_;
    std::uint32_t sourceIndex_ = 0xFFFFFFFFu;
    std::string sourceDescription_;
    std::string deviceFormatName_;
    std::uint32_t deviceRate_ = 0;
    std::uint32_t deviceChannels_ = 0;
    bool sourceFound_ = false;
    MicrophoneFormat format_;
    std::unique_ptr<PulseRecordStream> stream_;
    std::int64_t framesDelivered_ = 0;
    bool disconnectReported_ = false;
    std::string defaultSourceName_; // the default input's device name, when following it

    // The events thread: start completions, disconnects and default-input changes, in order; shut
    // down (what has not started is dropped) when the capture goes.
    SerialQueue events_{"pulse.microphone"};
};

} // namespace veltrane
