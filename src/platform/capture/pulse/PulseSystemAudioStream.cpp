#include "platform/capture/pulse/PulseSystemAudioStream.h"

#include "platform/capture/pulse/PulseApplicationCapture.h"
#include "platform/capture/pulse/PulseConnection.h"
#include "platform/capture/pulse/PulseDeviceCapture.h"
#include "platform/core/Log.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/media/SampleBuffer.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace veltrane {

namespace {

constexpr const char* kClientName = "VeltraneRecorder";
// Both well above one fragment, so that a program's stream between two fragments still counts
// as playing.
constexpr std::chrono::milliseconds kMixerIdle{150};
constexpr std::chrono::milliseconds kMixerMaxBuffered{150};

std::int64_t framesOf(std::chrono::milliseconds duration, std::uint32_t rate) {
    return duration.count() * static_cast<std::int64_t>(rate) / 1000;
}

} // namespace

std::unique_ptr<SystemAudioStream>
PulseSystemAudioStream::make(CaptureTarget target, StreamSettings settings,
                             std::function<void(const PlatformError&)> didStopWithError,
                             std::chrono::milliseconds timeout) {
    if (target.mode == CaptureTarget::Mode::applicationsOnly) {
        return std::make_unique<PulseApplicationCapture>(std::move(target), settings,
                                                         std::move(didStopWithError), timeout);
    }
    return std::make_unique<PulseDeviceCapture>(std::move(target), settings, std::move(didStopWithError),
                                                timeout);
}

PulseSystemAudioStream::PulseSystemAudioStream(CaptureTarget target, StreamSettings settings,
                                               std::function<void(const PlatformError&)> didStopWithError,
                                               std::chrono::milliseconds timeout)
    : target_(std::move(target)),
      channels_(static_cast<std::uint32_t>(std::clamp(settings.channelCount, 1, 8))),
      rate_(static_cast<std::uint32_t>(std::clamp(settings.sampleRate, 8000, 192000))),
      didStopWithError_(std::move(didStopWithError)), timeout_(timeout) {}

PulseSystemAudioStream::~PulseSystemAudioStream() {
    shutDown();
}

void PulseSystemAudioStream::shutDown() {
    requestStop();
    gate_->close();
    control_.shutdown();
    teardown();
}

std::expected<void, PlatformError> PulseSystemAudioStream::setAudioHandler(SerialQueue& queue,
                                                                           AudioHandler handler) {
    if (!handler) {
        return std::unexpected(pulseError(PA_ERR_INVALID, "The stream output has no handler"));
    }
    std::lock_guard lock(outputMutex_);
    audioQueue_ = &queue;
    audioHandler_ = std::make_shared<const AudioHandler>(std::move(handler));
    return {};
}

void PulseSystemAudioStream::setNoticeHandler(NoticeHandler handler) {
    std::lock_guard lock(outputMutex_);
    noticeHandler_ = handler ? std::make_shared<const NoticeHandler>(std::move(handler)) : nullptr;
}

void PulseSystemAudioStream::notify(Notice notice) {
    std::shared_ptr<const NoticeHandler> handler;
    {
        std::lock_guard lock(outputMutex_);
        handler = noticeHandler_;
    }
    if (handler) {
        (*handler)(notice);
    }
}

void PulseSystemAudioStream::requestStop() {
    {
        std::lock_guard lock(stopMutex_);
        stopRequested_ = true;
    }
    stopWake_.notify_all();
}

bool PulseSystemAudioStream::stopRequestedWithin(std::chrono::milliseconds pause) {
    std::unique_lock lock(stopMutex_);
    return stopWake_.wait_for(lock, pause, [this] { return stopRequested_; });
}

void PulseSystemAudioStream::startCapture(Completion completion) {
    control_.post([this, completion = std::move(completion)] {
        const auto started = start();
        if (!started) {
            teardown();
        }
        if (completion) {
            completion(started);
        }
    });
}

void PulseSystemAudioStream::stopCapture(Completion completion) {
    requestStop(); // ends a wait for the server
    control_.post([this, completion = std::move(completion)] {
        teardown();
        if (completion) {
            completion({});
        }
    });
}

pa_context* PulseSystemAudioStream::context() const {
    return connection_->context();
}

std::int64_t PulseSystemAudioStream::nowFrames() const {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - startedAt_);
    return elapsed.count() * static_cast<std::int64_t>(rate_) / 1'000'000;
}

std::expected<void, PlatformError> PulseSystemAudioStream::start() {
    if (connection_) {
        return std::unexpected(pulseError(PA_ERR_BADSTATE, "The capture is already running"));
    }
    if (auto checked = checkTarget(); !checked) {
        return checked;
    }
    pacer_.emplace(framesOf(kSilenceAllowance, rate_), framesOf(kSilenceLag, rate_));
    mixer_.emplace(channels_, framesOf(kMixerIdle, rate_), framesOf(kMixerMaxBuffered, rate_));
    silence_.assign(static_cast<std::size_t>(framesOf(kTick, rate_)) * channels_, 0.0f);
    stopReported_ = false;
    startedAt_ = std::chrono::steady_clock::now();
    lastTickAt_ = startedAt_;
    runningAtFrames_ = 0;
    state_ = State::starting;
    return connectAndTap();
}

std::expected<void, PlatformError> PulseSystemAudioStream::connectAndTap() {
    auto opened = PulseConnection::open(kClientName, timeout_);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    connection_ = std::move(*opened);
    PulseConnection::Lock lock(*connection_);
    pa_context* context = connection_->context();

    sinkMonitors_.clear();
    if (!connection_->waitFor(pa_context_get_sink_info_list(context, &sinkListedThunk, this), timeout_)) {
        return std::unexpected(
            pulseErrorWithText(connection_->lastErrorCode(), "Could not list the output devices: "));
    }
    const bool resuming = state_ == State::reconnecting;
    state_ = State::starting;

    pa_context_set_subscribe_callback(
        context,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata) {
            auto* self = static_cast<PulseSystemAudioStream*>(userdata);
            if (self->isFollowing()) {
                self->onEvent(type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK,
                              type & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
            }
        },
        this);
    const auto mask =
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                            PA_SUBSCRIPTION_MASK_CLIENT | PA_SUBSCRIPTION_MASK_SERVER);
    if (!connection_->waitFor(pa_context_subscribe(context, mask, nullptr, nullptr), timeout_)) {
        return std::unexpected(
            pulseErrorWithText(connection_->lastErrorCode(), "Could not follow the sound server: "));
    }
    if (auto opened = openTaps(); !opened) {
        return opened;
    }

    connection_->setLostHandler([this](const PlatformError& error) { connectionLost(error); });
    lastTickAt_ = std::chrono::steady_clock::now();
    if (!resuming) {
        // The recording's wall clock starts now, when the capture is reported started, not when
        // connecting began: silence never makes it longer than the time it was running.
        runningAtFrames_ = nowFrames();
        lastArrivalFrames_ = runningAtFrames_;
    }
    state_ = State::running;
    armTick();
    onRunning();
    return {};
}

void PulseSystemAudioStream::connectionLost(const PlatformError& error) {
    if (stopReported_ || state_ != State::running) {
        return;
    }
    // What came before the loss goes on now; the time until the server is back becomes silence.
    flush();
    state_ = State::reconnecting;
    logWarning(lcCapture(),
               "⚠️ Sound server connection lost (" + error.localizedDescription + "); reconnecting…");
    control_.post([this, error] { reconnect(error); });
}

void PulseSystemAudioStream::reconnect(const PlatformError& lost) {
    dropConnection();
    notify(Notice{Notice::Kind::reconnecting, {}});
    const auto deadline = std::chrono::steady_clock::now() + kReconnectLimit;
    auto pause = kFirstReconnectPause;
    int attempts = 0;
    for (;;) {
        if (stopRequestedWithin(pause)) {
            return; // the stop's own task tears down
        }
        // The time without a server is silence, handed on as it passes (nothing else runs now).
        fillSilence(nowFrames());
        deliver();
        ++attempts;
        state_ = State::reconnecting;
        onReconnecting();
        if (connectAndTap()) {
            logInfo(lcCapture(), "✅ Sound server back: recording resumed after " + std::to_string(attempts) +
                                     (attempts == 1 ? " attempt" : " attempts"));
            notify(Notice{Notice::Kind::reconnected, {}});
            return;
        }
        dropConnection();
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        pause = std::min(pause * 2, kLongestReconnectPause);
    }
    logCritical(
        lcCapture(),
        "❌ Sound server did not come back within " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kReconnectLimit).count()) + " s");
    state_ = State::ended;
    stopReported_ = true;
    if (didStopWithError_) {
        didStopWithError_(lost);
    }
}

void PulseSystemAudioStream::dropConnection() {
    if (!connection_) {
        return;
    }
    {
        PulseConnection::Lock lock(*connection_);
        connection_->detachHandlers();
        if (tick_) {
            pa_threaded_mainloop_get_api(connection_->mainloop())->time_free(tick_);
            tick_ = nullptr;
        }
        for (auto& [id, tap] : taps_) {
            closeTap(*tap);
        }
        taps_.clear();
    }
    connection_.reset();
}

void PulseSystemAudioStream::teardown() {
    if (!connection_) {
        state_ = State::idle;
        return;
    }
    {
        PulseConnection::Lock lock(*connection_);
        connection_->setLostHandler(nullptr);
        if (state_ == State::running) {
            flush();
        }
        state_ = State::idle;
    }
    dropConnection();
}

PulseSystemAudioStream::Tap* PulseSystemAudioStream::openTap(std::uint32_t id, std::uint32_t sinkInput,
                                                             std::uint32_t sinkIndex,
                                                             const std::string& source) {
    if (const auto existing = taps_.find(id); existing != taps_.end()) {
        closeTap(*existing->second);
        taps_.erase(existing);
    }
    auto tap = std::make_unique<Tap>();
    tap->id = id;
    tap->sinkIndex = sinkIndex;
    PulseRecordStream::Options options;
    options.sampleSpec.format = PA_SAMPLE_FLOAT32NE;
    options.sampleSpec.rate = rate_;
    options.sampleSpec.channels = static_cast<std::uint8_t>(channels_);
    options.source = source;
    options.monitoredSinkInput = sinkInput;
    options.fragment = kFragment;
    Tap* target = tap.get();
    tap->stream = PulseRecordStream::connect(
        *connection_, options, [this, target] { onTapReadable(*target); },
        [this, target](pa_stream_state_t state) { onTapState(*target, state); });
    if (!tap->stream) {
        return nullptr;
    }
    mixer_->addSource(id, nowFrames());
    taps_[id] = std::move(tap);
    return target;
}

void PulseSystemAudioStream::closeTap(Tap& tap) {
    if (!tap.stream) {
        return;
    }
    tap.stream.reset();
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

void PulseSystemAudioStream::onTapReadable(Tap& tap) {
    const std::size_t frameBytes = sizeof(float) * channels_;
    const std::int64_t now = nowFrames();
    lastArrivalFrames_ = now;
    tap.stream->read([&](const void* data, std::size_t bytes) {
        if (data) {
            mixer_->push(tap.id, static_cast<const float*>(data),
                         static_cast<std::int64_t>(bytes / frameBytes), now);
        }
    });
    // The audio waits in the mixer for the next tick: the server sends whenever the device
    // produced a block (often every few milliseconds), and handing each block on would wake
    // every thread downstream as often.
}

void PulseSystemAudioStream::onTapState(Tap& tap, pa_stream_state_t state) {
    if (PA_STREAM_IS_GOOD(state)) {
        return;
    }
    tap.dead = true;
    if (state_ == State::running) {
        onTapFailed(tap);
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
        fillSilence(now);
    }
    deliver();
}

void PulseSystemAudioStream::fillSilence(std::int64_t now) {
    const auto chunk = static_cast<std::int64_t>(silence_.size() / channels_);
    for (std::int64_t due = pacer_->silenceDue(now - runningAtFrames_); due > 0;) {
        const std::int64_t frames = std::min(due, chunk);
        emit(silence_.data(), frames, pacer_->takeSilence(frames));
        due -= frames;
    }
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
    std::shared_ptr<const AudioHandler> handler;
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
                (*handler)(buffer);
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

void PulseSystemAudioStream::requestSink(std::uint32_t index) {
    pa_operation_unref(
        pa_context_get_sink_info_by_index(connection_->context(), index, &sinkListedThunk, this));
}

void PulseSystemAudioStream::requestSinks() {
    pa_operation_unref(pa_context_get_sink_info_list(connection_->context(), &sinkListedThunk, this));
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

void PulseSystemAudioStream::onTickTimer() {
    if (state_ != State::running && state_ != State::starting) {
        return; // ended or waiting for the server: the next connection has its own tick
    }
    const auto now = std::chrono::steady_clock::now();
    const bool stalled = now - lastTickAt_ > kStalledTick;
    lastTickAt_ = now;
    closeDeadTaps();
    // After a stall the audio the server kept meanwhile is still on its way (this tick may
    // come before the socket is read): silence now would be put in front of it, as long as
    // the stall, and the recording would run that much ahead of the clock.
    pump(stalled ? SilenceFill::deferred : SilenceFill::allowed);
    onTick();
    armTick();
}

void PulseSystemAudioStream::sinkListedThunk(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseSystemAudioStream*>(userdata);
    if (eol == 0 && info) {
        self->sinkMonitors_[info->index] = info->monitor_source_name ? info->monitor_source_name : "";
        self->onSinkListed(*info);
    }
    self->connection_->signal();
}

void PulseSystemAudioStream::tickThunk(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                       void* userdata) {
    static_cast<PulseSystemAudioStream*>(userdata)->onTickTimer();
}

} // namespace veltrane
