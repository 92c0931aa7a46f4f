#include "platform/capture/pulse/PulseDeviceCapture.h"

#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/capture/pulse/PulseConnection.h"
#include "platform/core/Log.h"

#include <pulse/pulseaudio.h>

namespace veltrane {

namespace {

constexpr std::uint32_t kDeviceTapID = PA_INVALID_INDEX;

} // namespace

PulseDeviceCapture::PulseDeviceCapture(CaptureTarget target, StreamSettings settings,
                                       std::function<void(const PlatformError&)> didStopWithError,
                                       std::chrono::milliseconds timeout)
    : PulseSystemAudioStream(std::move(target), settings, std::move(didStopWithError), timeout),
      followsDefault_(this->target().output.name == kDefaultOutputDeviceName),
      sinkDescription_(this->target().output.description.empty() ? this->target().output.name
                                                                 : this->target().output.description) {}

PulseDeviceCapture::~PulseDeviceCapture() {
    shutDown();
}

PlatformError PulseDeviceCapture::removedError() const {
    return pulseError(PA_ERR_NOENTITY, "The output device " + sinkDescription_ + " was removed");
}

void PulseDeviceCapture::onReconnecting() {
    sinkIndex_ = PA_INVALID_INDEX;
    sinksByName_.clear();
}

void PulseDeviceCapture::onSinkListed(const pa_sink_info& info) {
    const std::string name = info.name ? info.name : "";
    if (followsDefault_) {
        sinksByName_[name] = {info.index, info.description ? info.description : name};
        if (name == defaultSinkName_ && sinkIndex_ != info.index && isRunning()) {
            (void)followDefault(name); // the new default was announced after the server's change
        }
        return;
    }
    if (sinkIndex_ != PA_INVALID_INDEX) {
        return;
    }
    const OutputDevice& device = target().output;
    const bool matches =
        device.name.empty() ? outputIDForSinkName(name) == device.outputID : name == device.name;
    if (matches) {
        sinkIndex_ = info.index;
        if (info.description) {
            sinkDescription_ = info.description;
        }
    }
}

std::expected<void, PlatformError> PulseDeviceCapture::openTaps() {
    if (followsDefault_) {
        if (!connection().waitFor(pa_context_get_server_info(context(), &serverInfoThunk, this), timeout())) {
            return std::unexpected(
                pulseErrorWithText(connection().lastErrorCode(), "Could not find the default output: "));
        }
        const auto sink = sinksByName_.find(defaultSinkName_);
        if (sink == sinksByName_.end()) {
            return std::unexpected(pulseError(PA_ERR_NOENTITY, "The sound server has no default output"));
        }
        const std::string previous = sinkDescription_;
        sinkIndex_ = sink->second.first;
        sinkDescription_ = sink->second.second;
        if (previous != sinkDescription_) {
            // Another device became the default while the capture was (re)connecting.
            postToControl([this, previous, current = sinkDescription_] {
                logInfo(lcCapture(), "🔀 Default output changed: " + previous + " → " + current);
                notify(Notice{Notice::Kind::deviceChanged, current});
            });
        }
    }
    if (sinkIndex_ == PA_INVALID_INDEX) {
        return std::unexpected(
            pulseError(PA_ERR_NOENTITY, "The output device " + sinkDescription_ + " is not available"));
    }
    Tap* tap = openTap(kDeviceTapID, PA_INVALID_INDEX, sinkIndex_, sinkMonitors()[sinkIndex_]);
    if (!tap) {
        return std::unexpected(
            pulseErrorWithText(connection().lastErrorCode(), "Could not record the output device: "));
    }
    if (const auto ready = tap->stream->waitUntilReady(timeout()); !ready) {
        return std::unexpected(pulseErrorWithText(ready.error(), "Could not record the output device: "));
    }
    return {};
}

void PulseDeviceCapture::onServerInfo(const pa_server_info& info) {
    defaultSinkName_ = info.default_sink_name ? info.default_sink_name : "";
    // Compared with the device recorded, not with the last name heard: a change heard while the
    // capture was starting is followed when onRunning() asks again.
    if (!isRunning() || defaultSinkName_.empty()) {
        return;
    }
    if (const auto sink = sinksByName_.find(defaultSinkName_);
        sink != sinksByName_.end() && sink->second.first == sinkIndex_) {
        return;
    }
    if (!followDefault(defaultSinkName_)) {
        requestSinks(); // a device not announced yet: followed once it is listed
    }
}

bool PulseDeviceCapture::followDefault(const std::string& name) {
    const auto sink = sinksByName_.find(name);
    if (sink == sinksByName_.end()) {
        return false;
    }
    const std::string previous = sinkDescription_;
    sinkIndex_ = sink->second.first;
    sinkDescription_ = sink->second.second;
    // The monitor is connected without waiting for it: its audio comes as soon as it runs, and
    // the time until then is silence like any quiet time.
    if (!openTap(kDeviceTapID, PA_INVALID_INDEX, sinkIndex_, sinkMonitors()[sinkIndex_])) {
        end(pulseErrorWithText(connection().lastErrorCode(), "Could not record the output device: "));
        return true;
    }
    postToControl([this, previous, current = sinkDescription_] {
        logInfo(lcCapture(), "🔀 Default output changed: " + previous + " → " + current);
        notify(Notice{Notice::Kind::deviceChanged, current});
    });
    return true;
}

void PulseDeviceCapture::onEvent(unsigned facility, unsigned type, std::uint32_t index) {
    if (followsDefault_) {
        // PipeWire does not always announce a new default (its session manager sets it), but the
        // programs' streams it moves there are announced: a new or moved stream asks again too.
        if ((facility == PA_SUBSCRIPTION_EVENT_SERVER && type == PA_SUBSCRIPTION_EVENT_CHANGE) ||
            (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && type != PA_SUBSCRIPTION_EVENT_REMOVE)) {
            pa_operation_unref(pa_context_get_server_info(context(), &serverInfoThunk, this));
        } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_NEW) {
            requestSink(index);
        }
        return; // a removed default is replaced by the server, which announces the new one
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
        index == sinkIndex_) {
        end(removedError());
    }
}

void PulseDeviceCapture::onRunning() {
    // Announcements are heard only once the capture runs: a default that changed while it was
    // starting is found by asking again.
    if (followsDefault_) {
        pa_operation_unref(pa_context_get_server_info(context(), &serverInfoThunk, this));
    }
}

void PulseDeviceCapture::onTapFailed(Tap&) {
    if (followsDefault_) {
        return; // the default's device went away: the server names the next default
    }
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

void PulseDeviceCapture::serverInfoThunk(pa_context*, const pa_server_info* info, void* userdata) {
    if (info) {
        static_cast<PulseDeviceCapture*>(userdata)->onServerInfo(*info);
    }
}

} // namespace veltrane
