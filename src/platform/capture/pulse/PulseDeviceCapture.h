#pragma once

#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include <map>
#include <string>

struct pa_server_info;

namespace veltrane {

// Everything one output device plays, recorded from the device's monitor. Ends with an error
// when the device goes away or its recording fails. The default output (kDefaultOutputDeviceName)
// is followed instead: when another device becomes the default, the recording moves to its
// monitor.
class PulseDeviceCapture final : public PulseSystemAudioStream {
public:
    PulseDeviceCapture(CaptureTarget target, StreamSettings settings,
                       std::function<void(const PlatformError&)> didStopWithError,
                       std::chrono::milliseconds timeout);
    ~PulseDeviceCapture() override;

private:
    [[nodiscard]] std::expected<void, PlatformError> openTaps() override;
    void onSinkListed(const pa_sink_info& info) override;
    void onEvent(unsigned facility, unsigned type, std::uint32_t index) override;
    void onTapFailed(Tap& tap) override;
    void onReconnecting() override;
    void onRunning() override;

    [[nodiscard]] PlatformError removedError() const;
    // Taps the monitor of the sink named `name` when it is known; returns whether it is.
    bool followDefault(const std::string& name);
    void onServerInfo(const pa_server_info& info);
    static void serverInfoThunk(pa_context*, const pa_server_info* info, void* userdata);

    const bool followsDefault_;
    // Guarded by the connection's lock.
    std::uint32_t sinkIndex_ = 0xFFFFFFFFu;
    std::string sinkDescription_;
    // Followed default output: every sink's index by name and description, the default's name.
    std::map<std::string, std::pair<std::uint32_t, std::string>> sinksByName_;
    std::string defaultSinkName_;
};

} // namespace veltrane
