#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include "platform/capture/pulse/DeviceIdentity.h"
#include "platform/capture/pulse/PulseConnection.h"
#include "platform/capture/pulse/PulseError.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/media/SampleBuffer.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string>

namespace veltrane {

namespace {

constexpr const char* kClientName = "VeltraneRecorder";
constexpr std::uint32_t kDeviceTapID = PA_INVALID_INDEX;
constexpr int kTicksPerLivenessCheck = 10;
// Both well above one fragment, so that a program's stream between two fragments still counts
// as playing.
constexpr std::chrono::milliseconds kMixerIdle{150};
constexpr std::chrono::milliseconds kMixerMaxBuffered{150};

std::int64_t framesOf(std::chrono::milliseconds duration, std::uint32_t rate) {
    return duration.count() * static_cast<std::int64_t>(rate) / 1000;
}

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

PulseSystemAudioStream::PulseSystemAudioStream(ContentFilter filter, StreamConfiguration configuration,
                                               std::function<void(const PlatformError&)> didStopWithError,
                                               std::chrono::milliseconds timeout)
    : filter_(std::move(filter)), configuration_(configuration),
      channels_(static_cast<std::uint32_t>(std::clamp(configuration.channelCount, 1, 8))),
      rate_(static_cast<std::uint32_t>(std::clamp(configuration.sampleRate, 8000, 192000))),
      didStopWithError_(std::move(didStopWithError)), timeout_(timeout) {}

PulseSystemAudioStream::~PulseSystemAudioStream() {
    gate_->close();
    control_.shutdown();
    teardown();
}

std::optional<PlatformError>
PulseSystemAudioStream::addStreamOutput(StreamOutputType type, SerialQueue& queue, OutputHandler handler) {
    if (!handler) {
        return pulseError(PA_ERR_INVALID, "The stream output has no handler");
    }
    if (type == StreamOutputType::screen) {
        // Sound servers have no pictures: a screen output is accepted and never called.
        return std::nullopt;
    }
    std::lock_guard lock(outputMutex_);
    audioQueue_ = &queue;
    audioHandler_ = std::make_shared<const OutputHandler>(std::move(handler));
    return std::nullopt;
}

void PulseSystemAudioStream::startCapture(Completion completion) {
    control_.post([this, completion = std::move(completion)] {
        auto error = start();
        if (error) {
            teardown();
        }
        if (completion) {
            completion(error);
        }
    });
}

void PulseSystemAudioStream::stopCapture(Completion completion) {
    control_.post([this, completion = std::move(completion)] {
        teardown();
        if (completion) {
            completion(std::nullopt);
        }
    });
}

bool PulseSystemAudioStream::isApplicationCapture() const {
    return filter_.mode == ContentFilter::Mode::displayIncludingApplications;
}

std::int64_t PulseSystemAudioStream::nowFrames() const {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - startedAt_);
    return elapsed.count() * static_cast<std::int64_t>(rate_) / 1'000'000;
}

std::optional<PlatformError> PulseSystemAudioStream::start() {
    if (connection_) {
        return pulseError(PA_ERR_BADSTATE, "The capture is already running");
    }
    if (isApplicationCapture() && filter_.applications.empty()) {
        return pulseError(PA_ERR_INVALID, "No application to capture");
    }
    auto opened = PulseConnection::open(kClientName, timeout_);
    if (!opened) {
        return opened.error();
    }
    connection_ = std::move(*opened);
    PulseConnection::Lock lock(*connection_);
    pa_context* context = connection_->context();

    sinkMonitors_.clear();
    sinkIndex_ = PA_INVALID_INDEX;
    sinkDescription_ =
        filter_.display.description.empty() ? filter_.display.name : filter_.display.description;
    if (!connection_->waitFor(pa_context_get_sink_info_list(context, &sinkListedThunk, this), timeout_)) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not list the output devices: ");
    }
    if (!isApplicationCapture() && sinkIndex_ == PA_INVALID_INDEX) {
        return pulseError(PA_ERR_NOENTITY, "The output device " + sinkDescription_ + " is not available");
    }

    processIds_.clear();
    for (const RunningApplication& application : filter_.applications) {
        processIds_.insert(application.processID);
    }
    pacer_.emplace(framesOf(kSilenceAllowance, rate_), framesOf(kSilenceLag, rate_));
    mixer_.emplace(channels_, framesOf(kMixerIdle, rate_), framesOf(kMixerMaxBuffered, rate_));
    silence_.assign(static_cast<std::size_t>(framesOf(kTick, rate_)) * channels_, 0.0f);
    stopReported_ = false;
    livenessQueryRunning_ = false;
    ticksUntilLivenessCheck_ = kTicksPerLivenessCheck;
    startedAt_ = std::chrono::steady_clock::now();
    lastTickAt_ = startedAt_;
    runningAtFrames_ = 0;
    state_ = State::starting;

    pa_context_set_subscribe_callback(
        context,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata) {
            static_cast<PulseSystemAudioStream*>(userdata)->onEvent(
                type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK, type & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
        },
        this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_CLIENT);
    if (!connection_->waitFor(pa_context_subscribe(context, mask, nullptr, nullptr), timeout_)) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not follow the sound server: ");
    }

    if (isApplicationCapture()) {
        if (!connection_->waitFor(pa_context_get_sink_input_info_list(context, &sinkInputThunk, this),
                                  timeout_)) {
            return pulseErrorWithText(connection_->lastErrorCode(),
                                      "Could not list the playing applications: ");
        }
    } else {
        Tap* tap = openTap(kDeviceTapID, PA_INVALID_INDEX, sinkIndex_, sinkMonitors_[sinkIndex_]);
        if (!tap) {
            return pulseErrorWithText(connection_->lastErrorCode(), "Could not record the output device: ");
        }
        pa_stream* stream = tap->stream;
        const bool settled = connection_->waitUntil(
            [stream] {
                const pa_stream_state_t state = pa_stream_get_state(stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            timeout_);
        if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY) {
            const int code = connection_->lastErrorCode();
            return pulseErrorWithText(settled ? code : PA_ERR_TIMEOUT,
                                      "Could not record the output device: ");
        }
    }

    connection_->setLostHandler([this](const PlatformError& error) { end(error); });
    // The recording's wall clock starts now, when the capture is reported started, not when
    // connecting began: silence never makes it longer than the time it was running.
    runningAtFrames_ = nowFrames();
    lastArrivalFrames_ = runningAtFrames_;
    state_ = State::running;
    armTick();
    return std::nullopt;
}

void PulseSystemAudioStream::teardown() {
    if (!connection_) {
        return;
    }
    {
        PulseConnection::Lock lock(*connection_);
        connection_->setLostHandler(nullptr);
        pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
        if (tick_) {
            pa_mainloop_api* api = pa_threaded_mainloop_get_api(connection_->mainloop());
            api->time_free(tick_);
            tick_ = nullptr;
        }
        if (state_ == State::running) {
            flush();
        }
        state_ = State::idle;
        for (auto& [id, tap] : taps_) {
            closeTap(*tap);
        }
        taps_.clear();
    }
    connection_.reset();
}

PulseSystemAudioStream::Tap* PulseSystemAudioStream::openTap(std::uint32_t id, std::uint32_t sinkInput,
                                                             std::uint32_t sinkIndex,
                                                             const std::string& source) {
    if (const auto existing = taps_.find(id); existing != taps_.end()) {
        closeTap(*existing->second);
        taps_.erase(existing);
    }
    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    sampleSpec.rate = rate_;
    sampleSpec.channels = static_cast<std::uint8_t>(channels_);
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_stream* stream = pa_stream_new(connection_->context(), "Meeting capture", &sampleSpec, &map);
    if (!stream) {
        return nullptr;
    }
    auto tap = std::make_unique<Tap>();
    tap->owner = this;
    tap->id = id;
    tap->sinkIndex = sinkIndex;
    tap->stream = stream;
    pa_stream_set_read_callback(stream, &tapReadThunk, tap.get());
    pa_stream_set_state_callback(stream, &tapStateThunk, tap.get());
    if (sinkInput != PA_INVALID_INDEX) {
        pa_stream_set_monitor_stream(stream, sinkInput);
    }
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(kFragment.count()) * PA_USEC_PER_MSEC, &sampleSpec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source.c_str(), &attributes, flags) < 0) {
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        return nullptr;
    }
    mixer_->addSource(id, nowFrames());
    Tap* result = tap.get();
    taps_[id] = std::move(tap);
    return result;
}

void PulseSystemAudioStream::closeTap(Tap& tap) {
    if (!tap.stream) {
        return;
    }
    pa_stream_set_read_callback(tap.stream, nullptr, nullptr);
    pa_stream_set_state_callback(tap.stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(tap.stream))) {
        pa_stream_disconnect(tap.stream);
    }
    pa_stream_unref(tap.stream);
    tap.stream = nullptr;
    tap.dead = true;
    if (mixer_) {
        mixer_->removeSource(tap.id);
    }
}

void PulseSystemAudioStream::closeDeadTaps() {
    for (auto it = taps_.begin(); it != taps_.end();) {
        if (it->second->dead) {
            closeTap(*it->second);
            it = taps_.erase(it);
        } else {
            ++it;
        }
    }
}

void PulseSystemAudioStream::pump(SilenceFill fill) {
    if (state_ != State::running) {
        return;
    }
    const std::int64_t now = nowFrames();
    const std::vector<float> mixed = mixer_->pull(now);
    if (!mixed.empty()) {
        const auto frames = static_cast<std::int64_t>(mixed.size() / channels_);
        // Real audio counts from when it came, not from this tick.
        emit(mixed.data(), frames, pacer_->takeReal(frames, lastArrivalFrames_ - runningAtFrames_));
    }
    if (fill == SilenceFill::allowed) {
        const auto chunk = static_cast<std::int64_t>(silence_.size() / channels_);
        for (std::int64_t due = pacer_->silenceDue(now - runningAtFrames_); due > 0;) {
            const std::int64_t frames = std::min(due, chunk);
            emit(silence_.data(), frames, pacer_->takeSilence(frames));
            due -= frames;
        }
    }
    deliver();
}

void PulseSystemAudioStream::flush() {
    if (!mixer_ || !pacer_) {
        return;
    }
    const std::vector<float> rest = mixer_->drain();
    if (!rest.empty()) {
        const auto frames = static_cast<std::int64_t>(rest.size() / channels_);
        emit(rest.data(), frames, pacer_->takeReal(frames, nowFrames() - runningAtFrames_));
    }
    deliver();
}

void PulseSystemAudioStream::emit(const float* samples, std::int64_t frames, std::int64_t pts) {
    // Cut where the stream's time crosses a multiple of one buffer's length, whatever the
    // server's fragments were: a chunk, which ends at a buffer's end, stays that close to
    // its length.
    const std::int64_t bufferFrames = std::max<std::int64_t>(framesOf(kBuffer, rate_), 1);
    while (frames > 0) {
        const std::int64_t piece = std::min(frames, bufferFrames - pts % bufferFrames);
        batch_.push_back(SampleBuffer::fromInterleavedFloats(
            samples, static_cast<std::size_t>(piece) * channels_, channels_, static_cast<double>(rate_),
            MediaTime::make(pts, static_cast<std::int32_t>(rate_))));
        samples += static_cast<std::size_t>(piece) * channels_;
        frames -= piece;
        pts += piece;
    }
}

void PulseSystemAudioStream::deliver() {
    if (batch_.empty()) {
        return;
    }
    SerialQueue* queue = nullptr;
    std::shared_ptr<const OutputHandler> handler;
    {
        std::lock_guard lock(outputMutex_);
        queue = audioQueue_;
        handler = audioHandler_;
    }
    std::vector<SampleBufferPtr> batch;
    batch.swap(batch_);
    if (!queue || !handler) {
        return;
    }
    // One task per batch: the queue's thread wakes once per tick, not once per buffer.
    queue->post([gate = gate_, handler = std::move(handler), batch = std::move(batch)] {
        gate->runIfOpen([&] {
            for (const SampleBufferPtr& buffer : batch) {
                (*handler)(buffer, StreamOutputType::audio);
            }
        });
    });
}

void PulseSystemAudioStream::end(const PlatformError& error) {
    if (stopReported_ || state_ != State::running) {
        return;
    }
    stopReported_ = true;
    flush();
    state_ = State::ended;
    if (!didStopWithError_) {
        return;
    }
    control_.post([this, error] { didStopWithError_(error); });
}

void PulseSystemAudioStream::armTick() {
    pa_context* context = connection_->context();
    const pa_usec_t when = pa_rtclock_now() + static_cast<pa_usec_t>(kTick.count()) * PA_USEC_PER_MSEC;
    if (tick_) {
        pa_context_rttime_restart(context, tick_, when);
    } else {
        tick_ = pa_context_rttime_new(context, when, &tickThunk, this);
    }
}

void PulseSystemAudioStream::checkApplicationsAlive() {
    if (livenessQueryRunning_ || state_ != State::running) {
        return;
    }
    const bool anyRunning = std::any_of(processIds_.begin(), processIds_.end(), &processIsRunning);
    if (anyRunning) {
        return;
    }
    // /proc may not show a program that lives in another process namespace (a sandbox);
    // the program has ended only once the server also has no client of it.
    pa_operation* operation = pa_context_get_client_info_list(connection_->context(), &clientThunk, this);
    if (operation) {
        livenessQueryRunning_ = true;
        applicationClientSeen_ = false;
        pa_operation_unref(operation);
    }
}

void PulseSystemAudioStream::onSinkListed(const pa_sink_info* info) {
    sinkMonitors_[info->index] = info->monitor_source_name ? info->monitor_source_name : "";
    if (isApplicationCapture() || sinkIndex_ != PA_INVALID_INDEX) {
        return;
    }
    const std::string name = info->name ? info->name : "";
    const bool matches = filter_.display.name.empty()
                             ? displayIDForDeviceName(name) == filter_.display.displayID
                             : name == filter_.display.name;
    if (matches) {
        sinkIndex_ = info->index;
        if (info->description) {
            sinkDescription_ = info->description;
        }
    }
}

void PulseSystemAudioStream::onSinkInputInfo(const pa_sink_input_info* info) {
    const bool following = state_ == State::starting || state_ == State::running;
    if (!following || !processIds_.contains(processIDOf(info->proplist))) {
        return;
    }
    const auto monitor = sinkMonitors_.find(info->sink);
    if (monitor == sinkMonitors_.end()) {
        return; // a device not seen yet: attached once its announcement has been read
    }
    if (const auto tap = taps_.find(info->index);
        tap != taps_.end() && !tap->second->dead && tap->second->sinkIndex == info->sink) {
        return;
    }
    openTap(info->index, info->index, info->sink, monitor->second);
}

void PulseSystemAudioStream::onClientInfo(const pa_client_info* info, int eol) {
    if (eol == 0 && info) {
        if (processIds_.contains(processIDOf(info->proplist))) {
            applicationClientSeen_ = true;
        }
        return;
    }
    livenessQueryRunning_ = false;
    if (eol > 0 && !applicationClientSeen_ && state_ == State::running) {
        end(pulseError(PA_ERR_NOENTITY, "The application ended"));
    }
}

void PulseSystemAudioStream::onEvent(unsigned facility, unsigned type, std::uint32_t index) {
    if (state_ != State::starting && state_ != State::running) {
        return;
    }
    pa_context* context = connection_->context();
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
            sinkMonitors_.erase(index);
            if (!isApplicationCapture() && index == sinkIndex_) {
                end(pulseError(PA_ERR_NOENTITY, "The output device " + sinkDescription_ + " was removed"));
            }
            return;
        }
        if (isApplicationCapture()) {
            pa_operation_unref(pa_context_get_sink_info_by_index(context, index, &sinkListedThunk, this));
            pa_operation_unref(pa_context_get_sink_input_info_list(context, &sinkInputThunk, this));
        }
        return;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT && isApplicationCapture()) {
        if (type == PA_SUBSCRIPTION_EVENT_REMOVE) {
            if (const auto tap = taps_.find(index); tap != taps_.end()) {
                tap->second->dead = true;
            }
            return;
        }
        pa_operation_unref(pa_context_get_sink_input_info(context, index, &sinkInputThunk, this));
        return;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_CLIENT && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
        isApplicationCapture()) {
        checkApplicationsAlive();
    }
}

void PulseSystemAudioStream::onTapRead(Tap& tap) {
    const std::size_t frameBytes = sizeof(float) * channels_;
    const std::int64_t now = nowFrames();
    lastArrivalFrames_ = now;
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(tap.stream, &data, &bytes) < 0 || bytes == 0) {
            break;
        }
        if (data) {
            mixer_->push(tap.id, static_cast<const float*>(data),
                         static_cast<std::int64_t>(bytes / frameBytes), now);
        }
        pa_stream_drop(tap.stream);
    }
    // The audio waits in the mixer for the next tick: the server sends whenever the device
    // produced a block (often every few milliseconds), and handing each block on would wake
    // every thread downstream as often.
}

void PulseSystemAudioStream::onTapState(Tap& tap) {
    connection_->signal();
    const pa_stream_state_t state = pa_stream_get_state(tap.stream);
    if (PA_STREAM_IS_GOOD(state)) {
        return;
    }
    tap.dead = true;
    if (state_ != State::running || tap.id != kDeviceTapID) {
        return; // a program's stream closed; its next one is attached when it appears
    }
    // The monitor failed: the device went away, or recording it failed for another reason.
    pa_operation_unref(
        pa_context_get_sink_info_by_index(connection_->context(), sinkIndex_, &displayCheckThunk, this));
}

void PulseSystemAudioStream::sinkListedThunk(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseSystemAudioStream*>(userdata);
    if (eol == 0 && info) {
        self->onSinkListed(info);
    }
    self->connection_->signal();
}

void PulseSystemAudioStream::displayCheckThunk(pa_context* context, const pa_sink_info* info, int eol,
                                               void* userdata) {
    auto* self = static_cast<PulseSystemAudioStream*>(userdata);
    if (eol == 0 && info) {
        self->end(pulseErrorWithText(pa_context_errno(context), "The capture of the output device failed: "));
    } else if (eol < 0) {
        self->end(
            pulseError(PA_ERR_NOENTITY, "The output device " + self->sinkDescription_ + " was removed"));
    }
}

void PulseSystemAudioStream::sinkInputThunk(pa_context*, const pa_sink_input_info* info, int eol,
                                            void* userdata) {
    auto* self = static_cast<PulseSystemAudioStream*>(userdata);
    if (eol == 0 && info) {
        self->onSinkInputInfo(info);
    }
    self->connection_->signal();
}

void PulseSystemAudioStream::clientThunk(pa_context*, const pa_client_info* info, int eol, void* userdata) {
    static_cast<PulseSystemAudioStream*>(userdata)->onClientInfo(info, eol);
}

void PulseSystemAudioStream::tapReadThunk(pa_stream*, std::size_t, void* userdata) {
    auto* tap = static_cast<Tap*>(userdata);
    tap->owner->onTapRead(*tap);
}

void PulseSystemAudioStream::tapStateThunk(pa_stream*, void* userdata) {
    auto* tap = static_cast<Tap*>(userdata);
    tap->owner->onTapState(*tap);
}

void PulseSystemAudioStream::tickThunk(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                       void* userdata) {
    auto* self = static_cast<PulseSystemAudioStream*>(userdata);
    const auto now = std::chrono::steady_clock::now();
    const bool stalled = now - self->lastTickAt_ > kStalledTick;
    self->lastTickAt_ = now;
    self->closeDeadTaps();
    // After a stall the audio the server kept meanwhile is still on its way (this tick may
    // come before the socket is read): silence now would be put in front of it, as long as
    // the stall, and the recording would run that much ahead of the clock.
    self->pump(stalled ? SilenceFill::deferred : SilenceFill::allowed);
    if (self->isApplicationCapture() && --self->ticksUntilLivenessCheck_ <= 0) {
        self->ticksUntilLivenessCheck_ = kTicksPerLivenessCheck;
        self->checkApplicationsAlive();
    }
    self->armTick();
}

} // namespace veltrane
