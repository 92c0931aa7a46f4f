#pragma once

#include "platform/capture/CaptureService.h"
#include "platform/dispatch/SerialQueue.h"

#include <chrono>

namespace veltrane {

// The identifier an output device is listed under: a 32-bit FNV-1a hash of the device's
// name, so that it stays the same across restarts of the sound server (indices do not).
// Never 0, which stands for "no device".
[[nodiscard]] std::uint32_t deviceIDForDeviceName(std::string_view deviceName);

// The capture service on a PulseAudio (or pipewire-pulse) sound server: output devices are
// the "displays", programs with playback streams are the running applications, and input
// devices that are not monitors are the microphones.
class PulseCaptureService final : public CaptureService {
public:
    // `timeout` bounds every wait on the server (connecting, each query).
    explicit PulseCaptureService(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~PulseCaptureService() override;

    void requestShareableContent(ContentCompletion completion) override;
    [[nodiscard]] std::expected<std::vector<CaptureDevice>, PlatformError> microphones() override;
    [[nodiscard]] std::unique_ptr<SourceWatch> watchSources(std::function<void()> changed) override;
    [[nodiscard]] std::string ownExecutableName() const override;
    [[nodiscard]] std::unique_ptr<SystemAudioStream>
    makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
               std::function<void(const PlatformError&)> didStopWithError) override;
    [[nodiscard]] std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
    makeMicrophoneCapture(const CaptureDevice& device) override;

    // The listing, done synchronously on the calling thread.
    [[nodiscard]] std::expected<ShareableContentPtr, PlatformError> shareableContent() const {
        return listContent(timeout_);
    }

private:
    [[nodiscard]] static std::expected<ShareableContentPtr, PlatformError>
    listContent(std::chrono::milliseconds timeout);

    std::chrono::milliseconds timeout_;
    // Runs the asynchronous listings, one after another, and their completions; shut down (what
    // has not started is dropped) when the service goes.
    SerialQueue worker_{"pulse.listing"};
};

} // namespace veltrane
