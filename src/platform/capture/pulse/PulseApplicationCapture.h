#pragma once

#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include <set>

struct pa_sink_input_info;
struct pa_client_info;

namespace veltrane {

// Only the playback streams of the given programs, each through its own monitor stream, summed.
// Follows the programs as they open, move and close streams, and ends once none of them runs
// any more.
class PulseApplicationCapture final : public PulseSystemAudioStream {
public:
    PulseApplicationCapture(ContentFilter filter, StreamConfiguration configuration,
                            std::function<void(const PlatformError&)> didStopWithError,
                            std::chrono::milliseconds timeout);
    ~PulseApplicationCapture() override;

private:
    [[nodiscard]] std::optional<PlatformError> checkFilter() const override;
    [[nodiscard]] std::optional<PlatformError> openTaps() override;
    void onSinkListed(const pa_sink_info&) override {}
    void onEvent(unsigned facility, unsigned type, std::uint32_t index) override;
    void onTapFailed(Tap&) override {} // its next stream is attached when it appears
    void onTick() override;

    void requestSinkInputs();
    void onSinkInputInfo(const pa_sink_input_info& info);
    void onClientInfo(const pa_client_info* info, int eol);
    void checkApplicationsAlive();

    static void sinkInputThunk(pa_context*, const pa_sink_input_info* info, int eol, void* userdata);

    // Guarded by the connection's lock.
    std::set<std::int32_t> processIds_;
    int ticksUntilLivenessCheck_ = 0;
    bool livenessQueryRunning_ = false;
    bool applicationClientSeen_ = false;
};

} // namespace veltrane
