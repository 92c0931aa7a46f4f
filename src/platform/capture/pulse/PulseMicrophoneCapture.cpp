#include "platform/capture/pulse/PulseMicrophoneCapture.h"

#include "platform/capture/pulse/PulseConnection.h"
#include "platform/capture/pulse/PulseError.h"
#include "platform/core/Log.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/media/SampleBuffer.h"

#include <pulse/pulseaudio.h>

#include <cstring>

namespace veltrane {

namespace {

constexpr const char* kClientName = "VeltraneRecorder";
// Fragments as long as the system audio's: the microphone's samples wait in the recorder's
// queue (half a second) until the next system-audio buffer takes them.
constexpr pa_usec_t kFragmentUsec = 50 * PA_USEC_PER_MSEC;

pa_sample_format_t sampleFormatFor(MicrophoneFormat::Encoding encoding) {
    switch (encoding) {
    case MicrophoneFormat::Encoding::int16:
        return PA_SAMPLE_S16LE;
    case MicrophoneFormat::Encoding::int32:
        return PA_SAMPLE_S32LE;
    case MicrophoneFormat::Encoding::float32:
        break;
    }
    return PA_SAMPLE_FLOAT32LE;
}

} // namespace

PulseMicrophoneCapture::PulseMicrophoneCapture(CaptureDevice device, std::chrono::milliseconds timeout)
    : device_(std::move(device)), timeout_(timeout) {}

std::expected<std::unique_ptr<PulseMicrophoneCapture>, PlatformError>
PulseMicrophoneCapture::create(const CaptureDevice& device, std::chrono::milliseconds timeout) {
    std::unique_ptr<PulseMicrophoneCapture> capture(new PulseMicrophoneCapture(device, timeout));
    if (auto error = capture->lookUp()) {
        return std::unexpected(*error);
    }
    return capture;
}

PulseMicrophoneCapture::~PulseMicrophoneCapture() {
    gate_->close();
    events_.shutdown();
    std::lock_guard control(controlMutex_);
    if (connection_) {
        {
            PulseConnection::Lock lock(*connection_);
            connection_->setLostHandler(nullptr);
            pa_context_set_subscribe_callback(connection_->context(), nullptr, nullptr);
            closeStream();
        }
        connection_.reset();
    }
}

std::optional<PlatformError> PulseMicrophoneCapture::lookUp() {
    auto opened = PulseConnection::open(kClientName, timeout_);
    if (!opened) {
        return opened.error();
    }
    connection_ = std::move(*opened);
    PulseConnection::Lock lock(*connection_);
    pa_context* context = connection_->context();
    const auto gotInfo =
        connection_->waitFor(pa_context_get_source_info_by_name(
                                 context, device_.uniqueID.c_str(),
                                 [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                                     auto* self = static_cast<PulseMicrophoneCapture*>(userdata);
                                     if (eol == 0 && info) {
                                         self->onSourceInfo(info);
                                     }
                                     self->connection_->signal();
                                 },
                                 this),
                             timeout_);
    if (!gotInfo && !connection_->isReady()) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not look up the microphone: ");
    }
    if (!sourceFound_) {
        const std::string name = device_.localizedName.empty() ? device_.uniqueID : device_.localizedName;
        return pulseError(PA_ERR_NOENTITY, "The microphone " + name + " is not available");
    }
    format_ = MicrophoneFormat::forDevice(deviceFormatName_, deviceRate_, deviceChannels_);

    pa_context_set_subscribe_callback(
        context,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata) {
            static_cast<PulseMicrophoneCapture*>(userdata)->onEvent(
                type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK, type & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
        },
        this);
    if (!connection_->waitFor(pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr),
                              timeout_)) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not follow the microphone: ");
    }
    connection_->setLostHandler([this](const PlatformError& error) {
        if (running_.load()) {
            reportDisconnect(error);
        }
    });
    return std::nullopt;
}

void PulseMicrophoneCapture::onSourceInfo(const pa_source_info* info) {
    sourceFound_ = true;
    sourceIndex_ = info->index;
    sourceDescription_ = info->description ? info->description : device_.uniqueID;
    const char* formatName = pa_sample_format_to_string(info->sample_spec.format);
    deviceFormatName_ = formatName ? formatName : "";
    deviceRate_ = info->sample_spec.rate;
    deviceChannels_ = info->sample_spec.channels;
}

void PulseMicrophoneCapture::setSampleBufferHandler(SerialQueue& queue, BufferHandler handler) {
    std::lock_guard lock(handlerMutex_);
    queue_ = &queue;
    bufferHandler_ = handler ? std::make_shared<const BufferHandler>(std::move(handler)) : nullptr;
}

void PulseMicrophoneCapture::setDisconnectHandler(DisconnectHandler handler) {
    std::lock_guard lock(handlerMutex_);
    disconnectHandler_ = handler ? std::make_shared<const DisconnectHandler>(std::move(handler)) : nullptr;
}

void PulseMicrophoneCapture::startRunning() {
    std::lock_guard control(controlMutex_);
    if (running_.load() || !connection_) {
        return;
    }
    std::optional<PlatformError> error;
    {
        PulseConnection::Lock lock(*connection_);
        error = connectStream();
        if (error) {
            closeStream();
        } else {
            running_ = true;
        }
    }
    if (error) {
        logLine("⚠️ Microphone could not start: " + error->localizedDescription);
    }
}

void PulseMicrophoneCapture::stopRunning() {
    std::lock_guard control(controlMutex_);
    if (!connection_) {
        return;
    }
    PulseConnection::Lock lock(*connection_);
    running_ = false;
    closeStream();
}

std::optional<PlatformError> PulseMicrophoneCapture::connectStream() {
    if (!connection_->isReady()) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not record the microphone: ");
    }
    pa_sample_spec sampleSpec{};
    sampleSpec.format = sampleFormatFor(format_.encoding);
    sampleSpec.rate = deviceRate_;
    sampleSpec.channels = static_cast<std::uint8_t>(deviceChannels_);
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(connection_->context(), "Meeting microphone", &sampleSpec, &map);
    if (!stream_) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not record the microphone: ");
    }
    pa_stream_set_read_callback(
        stream_,
        [](pa_stream*, std::size_t, void* userdata) {
            static_cast<PulseMicrophoneCapture*>(userdata)->onRead();
        },
        this);
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream*, void* userdata) { static_cast<PulseMicrophoneCapture*>(userdata)->onState(); }, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &sampleSpec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    framesDelivered_ = 0;
    disconnectReported_ = false;
    if (pa_stream_connect_record(stream_, device_.uniqueID.c_str(), &attributes, flags) < 0) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not record the microphone: ");
    }
    pa_stream* stream = stream_;
    const bool settled = connection_->waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeout_);
    if (!settled) {
        return pulseError(PA_ERR_TIMEOUT, "Could not record the microphone: Timeout");
    }
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        return pulseErrorWithText(connection_->lastErrorCode(), "Could not record the microphone: ");
    }
    return std::nullopt;
}

void PulseMicrophoneCapture::closeStream() {
    if (!stream_) {
        return;
    }
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
        pa_stream_disconnect(stream_);
    }
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseMicrophoneCapture::reportDisconnect(const PlatformError& error) {
    if (disconnectReported_) {
        return;
    }
    disconnectReported_ = true;
    events_.post([this, error] {
        std::shared_ptr<const DisconnectHandler> handler;
        {
            std::lock_guard lock(handlerMutex_);
            handler = disconnectHandler_;
        }
        if (handler) {
            (*handler)(error);
        }
    });
}

void PulseMicrophoneCapture::onEvent(unsigned facility, unsigned type, std::uint32_t index) {
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
        index == sourceIndex_ && running_.load()) {
        reportDisconnect(
            pulseError(PA_ERR_NOENTITY, "The microphone " + sourceDescription_ + " was removed"));
    }
}

void PulseMicrophoneCapture::onState() {
    connection_->signal();
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (!PA_STREAM_IS_GOOD(state) && running_.load()) {
        reportDisconnect(pulseErrorWithText(connection_->lastErrorCode(),
                                            "The microphone " + sourceDescription_ + " stopped: "));
    }
}

void PulseMicrophoneCapture::onRead() {
    SerialQueue* queue = nullptr;
    std::shared_ptr<const BufferHandler> handler;
    {
        std::lock_guard lock(handlerMutex_);
        queue = queue_;
        handler = bufferHandler_;
    }
    const std::uint32_t frameBytes = std::max<std::uint32_t>(format_.description.bytesPerFrame, 1);
    const auto timescale = static_cast<std::int32_t>(deviceRate_);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) {
            break;
        }
        const auto frames = static_cast<std::int64_t>(bytes / frameBytes);
        const std::int64_t pts = framesDelivered_;
        framesDelivered_ += frames; // a hole advances the clock too
        if (data && queue && handler && frames > 0) {
            std::vector<std::byte> copy(static_cast<std::size_t>(frames) * frameBytes);
            std::memcpy(copy.data(), data, copy.size());
            auto buffer = std::make_shared<const SampleBuffer>(format_.description, std::move(copy), frames,
                                                               MediaTime::make(pts, timescale));
            queue->post([gate = gate_, handler, buffer = std::move(buffer)] {
                gate->runIfOpen([&] { (*handler)(buffer); });
            });
        }
        pa_stream_drop(stream_);
    }
}

} // namespace veltrane
