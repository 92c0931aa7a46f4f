#include "platform/capture/pulse/PulseDeviceCapture.h"

#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/capture/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace veltrane {

namespace {

constexpr std::uint32_t kDeviceTapID = PA_INVALID_INDEX;

} // namespace

PulseDeviceCapture::PulseDeviceCapture(ContentFilter filter, StreamConfiguration configuration,
                                       std::function<void(const PlatformError&)> didStopWithError,
                                       std::chrono::milliseconds timeout)
    : PulseSystemAudioStream(std::move(filter), configuration, std::move(didStopWithError), timeout),
      sinkDescription_(this->filter().display.description.empty() ? this->filter().display.name
                                                                  : this->filter().display.description) {}

PulseDeviceCapture::~PulseDeviceCapture() {
    shutDown();
}

PlatformError PulseDeviceCapture::removedError() const {
    return pulseError(PA_ERR_NOENTITY, "The output device " + sinkDescription_ + " was removed");
}

void PulseDeviceCapture::onSinkListed(const pa_sink_info& info) {
    if (sinkIndex_ != PA_INVALID_INDEX) {
        return;
    }
    const std::string name = info.name ? info.name : "";
    const OutputDevice& device = filter().display;
    const bool matches =
        device.name.empty() ? deviceIDForDeviceName(name) == device.displayID : name == device.name;
    if (matches) {
        sinkIndex_ = info.index;
        if (info.description) {
            sinkDescription_ = info.description;
        }
    }
}

std::optional<PlatformError> PulseDeviceCapture::openTaps() {
    if (sinkIndex_ == PA_INVALID_INDEX) {
        return pulseError(PA_ERR_NOENTITY, "The output device " + sinkDescription_ + " is not available");
    }
    Tap* tap = openTap(kDeviceTapID, PA_INVALID_INDEX, sinkIndex_, sinkMonitors()[sinkIndex_]);
    if (!tap) {
        return pulseErrorWithText(connection().lastErrorCode(), "Could not record the output device: ");
    }
    if (const std::optional<int> code = tap->stream->waitUntilReady(timeout())) {
        return pulseErrorWithText(*code, "Could not record the output device: ");
    }
    return std::nullopt;
}

void PulseDeviceCapture::onEvent(unsigned facility, unsigned type, std::uint32_t index) {
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
        index == sinkIndex_) {
        end(removedError());
    }
}

void PulseDeviceCapture::onTapFailed(Tap&) {
    // The monitor failed: the device went away, or recording it failed for another reason.
    pa_operation_unref(pa_context_get_sink_info_by_index(
        context(), sinkIndex_,
        [](pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
            auto* self = static_cast<PulseDeviceCapture*>(userdata);
            if (eol == 0 && info) {
                self->end(pulseErrorWithText(pa_context_errno(context),
                                             "The capture of the output device failed: "));
            } else if (eol < 0) {
                self->end(self->removedError());
            }
        },
        this));
}

} // namespace veltrane
