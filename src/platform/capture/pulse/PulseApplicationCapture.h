#pragma once

#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include <optional>
#include <set>
#include <string>

struct pa_sink_input_info;
struct pa_client_info;

namespace veltrane {

// Only the playback streams of the given programs, each through its own monitor stream, summed.
// Follows the programs as they open, move and close streams. Once none of them runs any more
// the capture waits (silence) for a program with the same binary name to play, follows that
// one, and ends only when none has come within kReturnLimit.
class PulseApplicationCapture final : public PulseSystemAudioStream {
public:
    PulseApplicationCapture(CaptureTarget target, StreamSettings settings,
                            std::function<void(const PlatformError&)> didStopWithError,
                            std::chrono::milliseconds timeout);
    ~PulseApplicationCapture() override;

    static constexpr std::chrono::milliseconds kReturnLimit{60000};

private:
    [[nodiscard]] std::expected<void, PlatformError> checkTarget() const override;
    [[nodiscard]] std::expected<void, PlatformError> openTaps() override;
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
    const std::string binaryName_; // of the first program; empty: the program is not followed
    std::optional<std::chrono::steady_clock::time_point> endedAt_; // waiting for it to come back
    int ticksUntilLivenessCheck_ = 0;
    bool livenessQueryRunning_ = false;
    bool applicationClientSeen_ = false;
};

} // namespace veltrane
