#include "platform/capture/pulse/PulseApplicationCapture.h"

#include "platform/capture/pulse/PulseConnection.h"
#include "platform/core/Log.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string>

namespace veltrane {

namespace {

// The programs are looked for twice a second.
constexpr int kTicksPerLivenessCheck =
    static_cast<int>(std::chrono::milliseconds(500) / PulseSystemAudioStream::kTick);

std::int32_t processIDOf(const pa_proplist* properties) {
    const char* text = properties ? pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID) : nullptr;
    if (!text) {
        return 0;
    }
    std::int32_t pid = 0;
    const std::string_view view(text);
    const auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), pid);
    return ec == std::errc() ? pid : 0;
}

// A process counts as running while /proc shows it and it is not a zombie.
bool processIsRunning(std::int32_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line)) {
        return false;
    }
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) {
        return true;
    }
    const char state = line[close + 2];
    return state != 'Z' && state != 'X';
}

} // namespace

PulseApplicationCapture::PulseApplicationCapture(CaptureTarget target, StreamSettings settings,
                                                 std::function<void(const PlatformError&)> didStopWithError,
                                                 std::chrono::milliseconds timeout)
    : PulseSystemAudioStream(std::move(target), settings, std::move(didStopWithError), timeout),
      binaryName_(this->target().applications.empty() ? std::string()
                                                      : this->target().applications.front().binaryName) {
    for (const RunningApplication& application : this->target().applications) {
        processIds_.insert(application.processID);
    }
}

PulseApplicationCapture::~PulseApplicationCapture() {
    shutDown();
}

std::expected<void, PlatformError> PulseApplicationCapture::checkTarget() const {
    if (processIds_.empty()) {
        return std::unexpected(pulseError(PA_ERR_INVALID, "No application to capture"));
    }
    return {};
}

std::expected<void, PlatformError> PulseApplicationCapture::openTaps() {
    livenessQueryRunning_ = false;
    ticksUntilLivenessCheck_ = kTicksPerLivenessCheck;
    if (!connection().waitFor(pa_context_get_sink_input_info_list(context(), &sinkInputThunk, this),
                              timeout())) {
        return std::unexpected(
            pulseErrorWithText(connection().lastErrorCode(), "Could not list the playing applications: "));
    }
    return {};
}

void PulseApplicationCapture::requestSinkInputs() {
    pa_operation_unref(pa_context_get_sink_input_info_list(context(), &sinkInputThunk, this));
}

void PulseApplicationCapture::onSinkInputInfo(const pa_sink_input_info& info) {
    if (!isFollowing()) {
        return;
    }
    const std::int32_t pid = processIDOf(info.proplist);
    if (!processIds_.contains(pid)) {
        const char* binary =
            info.proplist ? pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY) : nullptr;
        if (!endedAt_ || pid <= 0 || !binary || binaryName_ != binary) {
            return;
        }
        // The program came back as a new process (a meeting application rejoining a call).
        processIds_.insert(pid);
        endedAt_.reset();
        postToControl([binary = binaryName_, pid] {
            logInfo(lcCapture(), "🔁 " + binary + " plays again (process " + std::to_string(pid) +
                                     "): recording follows it");
        });
    }
    const auto monitor = sinkMonitors().find(info.sink);
    if (monitor == sinkMonitors().end()) {
        return; // a device not seen yet: attached once its announcement has been read
    }
    if (const auto tap = taps().find(info.index);
        tap != taps().end() && !tap->second->dead && tap->second->sinkIndex == info.sink) {
        return;
    }
    (void)openTap(info.index, info.index, info.sink,
                  monitor->second); // a failure: tried again at its next event
}

void PulseApplicationCapture::onEvent(unsigned facility, unsigned type, std::uint32_t index) {
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
            sinkMonitors().erase(index);
            return;
        }
        requestSink(index);
        requestSinkInputs();
        return;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
            if (const auto tap = taps().find(index); tap != taps().end()) {
                tap->second->dead = true;
            }
            return;
        }
        pa_operation_unref(pa_context_get_sink_input_info(context(), index, &sinkInputThunk, this));
        return;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_CLIENT && type == PA_SUBSCRIPTION_EVENT_REMOVE) {
        checkApplicationsAlive();
    }
}

void PulseApplicationCapture::onTick() {
    if (endedAt_) {
        if (std::chrono::steady_clock::now() - *endedAt_ >= kReturnLimit) {
            end(pulseError(PA_ERR_NOENTITY, "The application ended"));
        }
        return;
    }
    if (--ticksUntilLivenessCheck_ <= 0) {
        ticksUntilLivenessCheck_ = kTicksPerLivenessCheck;
        checkApplicationsAlive();
    }
}

void PulseApplicationCapture::checkApplicationsAlive() {
    if (livenessQueryRunning_ || !isRunning() || endedAt_) {
        return;
    }
    if (std::any_of(processIds_.begin(), processIds_.end(), &processIsRunning)) {
        return;
    }
    // /proc may not show a program that lives in another process namespace (a sandbox);
    // the program has ended only once the server also has no client of it.
    pa_operation* operation = pa_context_get_client_info_list(
        context(),
        [](pa_context*, const pa_client_info* info, int eol, void* userdata) {
            static_cast<PulseApplicationCapture*>(userdata)->onClientInfo(info, eol);
        },
        this);
    if (operation) {
        livenessQueryRunning_ = true;
        applicationClientSeen_ = false;
        pa_operation_unref(operation);
    }
}

void PulseApplicationCapture::onClientInfo(const pa_client_info* info, int eol) {
    if (eol == 0 && info) {
        if (processIds_.contains(processIDOf(info->proplist))) {
            applicationClientSeen_ = true;
        }
        return;
    }
    livenessQueryRunning_ = false;
    if (eol > 0 && !applicationClientSeen_ && isRunning() && !endedAt_) {
        if (binaryName_.empty()) {
            end(pulseError(PA_ERR_NOENTITY, "The application ended"));
            return;
        }
        endedAt_ = std::chrono::steady_clock::now();
        postToControl([binary = binaryName_] {
            logInfo(
                lcCapture(),
                "⏳ The application ended; waiting up to " +
                    std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kReturnLimit).count()) +
                    " s for " + binary + " to play again");
        });
        requestSinkInputs(); // it may be playing already
    }
}

void PulseApplicationCapture::sinkInputThunk(pa_context*, const pa_sink_input_info* info, int eol,
                                             void* userdata) {
    auto* self = static_cast<PulseApplicationCapture*>(userdata);
    if (eol == 0 && info) {
        self->onSinkInputInfo(*info);
    }
    self->connection().signal();
}

} // namespace veltrane
