#pragma once

#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include <string>

namespace veltrane {

// Everything one output device plays, recorded from the device's monitor. Ends with an error
// when the device goes away or its recording fails.
class PulseDeviceCapture final : public PulseSystemAudioStream {
public:
    PulseDeviceCapture(ContentFilter filter, StreamConfiguration configuration,
                       std::function<void(const PlatformError&)> didStopWithError,
                       std::chrono::milliseconds timeout);
    ~PulseDeviceCapture() override;

private:
    [[nodiscard]] std::optional<PlatformError> openTaps() override;
    void onSinkListed(const pa_sink_info& info) override;
    void onEvent(unsigned facility, unsigned type, std::uint32_t index) override;
    void onTapFailed(Tap& tap) override;

    [[nodiscard]] PlatformError removedError() const;

    // Guarded by the connection's lock.
    std::uint32_t sinkIndex_ = 0xFFFFFFFFu;
    std::string sinkDescription_;
};

} // namespace veltrane
