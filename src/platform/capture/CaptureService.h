#pragma once

#include "platform/capture/CaptureSources.h"
#include "platform/capture/MicrophoneCapture.h"
#include "platform/capture/SystemAudioStream.h"
#include "platform/core/PlatformError.h"

#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrane {

// The sound server as the recorder sees it: what can be captured, and capture streams.
// Every wait on the server is bounded; an unreachable server is an error, never a hang.
class CaptureService {
public:
    using SourcesCompletion = std::function<void(const std::expected<CaptureSourcesPtr, PlatformError>&)>;

    // Keeps a watch on the sources going for as long as it lives. A watch whose connection to
    // the sound server ended (a restart) hears nothing more: it calls `changed` once more and
    // reports itself lost, and its owner opens a new one.
    class SourceWatch {
    public:
        virtual ~SourceWatch() = default;
        [[nodiscard]] virtual bool isLost() const { return false; }
    };

    virtual ~CaptureService() = default;

    // A snapshot of the output devices and the programs playing audio. The completion runs
    // once, on a platform thread.
    virtual void requestSources(SourcesCompletion completion) = 0;

    // The microphones (input devices that are not monitors), in the server's order.
    [[nodiscard]] virtual std::expected<std::vector<InputDevice>, PlatformError> microphones() = 0;

    // Calls `changed` on a platform thread soon after an output device or a microphone comes or
    // goes, a program starts or stops playing, or a default device changes, for as long as the
    // returned watch lives. Null when the server cannot be followed. May wait on the server:
    // call off the main thread.
    [[nodiscard]] virtual std::unique_ptr<SourceWatch> watchSources(std::function<void()> changed) {
        (void)changed;
        return nullptr;
    }

    // The identifier by which this process itself shows up among running applications
    // (its binary name); empty when unknown.
    [[nodiscard]] virtual std::string ownExecutableName() const = 0;

    // `didStopWithError` runs on a platform thread when the stream stops by itself (the device
    // or program went away, the server died).
    [[nodiscard]] virtual std::unique_ptr<SystemAudioStream>
    makeStream(const CaptureTarget& target, const StreamSettings& settings,
               std::function<void(const PlatformError&)> didStopWithError) = 0;

    [[nodiscard]] virtual std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
    makeMicrophoneCapture(const InputDevice& device) = 0;
};

} // namespace veltrane
