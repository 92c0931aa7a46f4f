#pragma once

#include "platform/capture/CaptureService.h"
#include "platform/dispatch/SerialQueue.h"

#include <chrono>

namespace veltrane {

// The identifier an output is listed under: a 32-bit FNV-1a hash of the sink's
// name, so that it stays the same across restarts of the sound server (indices do not).
// Never 0, which stands for "no device".
[[nodiscard]] std::uint32_t outputIDForSinkName(std::string_view sinkName);

// The capture service on a PulseAudio (or pipewire-pulse) sound server: the sinks are the
// outputs (captured through their monitor sources), programs with playback streams (sink
// inputs) are the running applications, and sources that are not monitors are the microphones.
class PulseCaptureService final : public CaptureService {
public:
    // `timeout` bounds every wait on the server (connecting, each query).
    explicit PulseCaptureService(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~PulseCaptureService() override;

    void requestSources(SourcesCompletion completion) override;
    [[nodiscard]] std::expected<std::vector<InputDevice>, PlatformError> microphones() override;
    [[nodiscard]] std::unique_ptr<SourceWatch> watchSources(std::function<void()> changed) override;
    [[nodiscard]] std::string ownExecutableName() const override;
    [[nodiscard]] std::unique_ptr<SystemAudioStream>
    makeStream(const CaptureTarget& target, const StreamSettings& settings,
               std::function<void(const PlatformError&)> didStopWithError) override;
    [[nodiscard]] std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
    makeMicrophoneCapture(const InputDevice& device) override;

    // The listing, done synchronously on the calling thread.
    [[nodiscard]] std::expected<CaptureSourcesPtr, PlatformError> sources() const {
        return listSources(timeout_);
    }

private:
    [[nodiscard]] static std::expected<CaptureSourcesPtr, PlatformError>
    listSources(std::chrono::milliseconds timeout);

    std::chrono::milliseconds timeout_;
    // Runs the asynchronous listings, one after another, and their completions; shut down (what
    // has not started is dropped) when the service goes.
    SerialQueue worker_{"pulse.listing"};
};

} // namespace veltrane
