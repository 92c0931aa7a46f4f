#include "platform/capture/pulse/PulseMicrophoneCapture.h"

#include "platform/capture/pulse/PulseConnection.h"
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
constexpr std::chrono::milliseconds kFragment{50};

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

namespace {

MicrophoneFormat::Encoding encodingFor(std::string_view deviceFormat) {
    if (deviceFormat == "s16le" || deviceFormat == "s16be") {
        return MicrophoneFormat::Encoding::int16;
    }
    if (deviceFormat == "s32le" || deviceFormat == "s32be" || deviceFormat == "s24le" ||
        deviceFormat == "s24be" || deviceFormat == "s24-32le" || deviceFormat == "s24-32be") {
        return MicrophoneFormat::Encoding::int32;
    }
    return MicrophoneFormat::Encoding::float32;
}

} // namespace

MicrophoneFormat MicrophoneFormat::forDevice(std::string_view deviceFormat, std::uint32_t sampleRate,
                                             std::uint32_t channels) {
    MicrophoneFormat format;
    format.encoding = encodingFor(deviceFormat);
    StreamDescription& d = format.description;
    d.sampleRate = sampleRate;
    d.formatID = kAudioFormatLinearPCM;
    d.channelsPerFrame = channels;
    d.framesPerPacket = 1;
    switch (format.encoding) {
    case Encoding::int16:
        d.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        d.bitsPerChannel = 16;
        break;
    case Encoding::int32:
        d.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
        d.bitsPerChannel = 32;
        break;
    case Encoding::float32:
        d.formatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
        d.bitsPerChannel = 32;
        break;
    }
    d.bytesPerFrame = d.bitsPerChannel / 8 * channels;
    d.bytesPerPacket = d.bytesPerFrame;
    return format;
}

PulseMicrophoneCapture::PulseMicrophoneCapture(InputDevice device, std::chrono::milliseconds timeout)
    : device_(std::move(device)), timeout_(timeout) {}

std::expected<std::unique_ptr<PulseMicrophoneCapture>, PlatformError>
PulseMicrophoneCapture::create(const InputDevice& device, std::chrono::milliseconds timeout) {
    std::unique_ptr<PulseMicrophoneCapture> capture(new PulseMicrophoneCapture(device, timeout));
    if (auto found = capture->lookUp(); !found) {
        return std::unexpected(std::move(found.error()));
    }
    return capture;
}

PulseMicrophoneCapture::~PulseMicrophoneCapture() {
    {
        std::lock_guard lock(watchMutex_);
        running_ = false;
    }
    watchWake_.notify_all();
    gate_->close();
    events_.shutdown();
    std::lock_guard control(controlMutex_);
    if (connection_) {
        {
            PulseConnection::Lock lock(*connection_);
            connection_->detachHandlers();
            stream_.reset();
        }
        connection_.reset();
    }
}

std::string PulseMicrophoneCapture::displayName() const {
    return device_.description.empty() ? device_.name : device_.description;
}

void PulseMicrophoneCapture::dropConnection() {
    if (!connection_) {
        return;
    }
    {
        PulseConnection::Lock lock(*connection_);
        connection_->detachHandlers();
        stream_.reset();
    }
    connection_.reset();
}

std::expected<void, PlatformError> PulseMicrophoneCapture::lookUp() {
    sourceFound_ = false;
    auto opened = PulseConnection::open(kClientName, timeout_);
    if (!opened) {
        return std::unexpected(opened.error());
    }
    connection_ = std::move(*opened);
    PulseConnection::Lock lock(*connection_);
    pa_context* context = connection_->context();
    const auto gotInfo =
        connection_->waitFor(pa_context_get_source_info_by_name(
                                 context, device_.name.c_str(),
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
        return std::unexpected(
            pulseErrorWithText(connection_->lastErrorCode(), "Could not look up the microphone: "));
    }
    if (!sourceFound_) {
        return std::unexpected(
            pulseError(PA_ERR_NOENTITY, "The microphone " + displayName() + " is not available"));
    }
    format_ = MicrophoneFormat::forDevice(deviceFormatName_, deviceRate_, deviceChannels_);

    pa_context_set_subscribe_callback(
        context,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t index, void* userdata) {
            static_cast<PulseMicrophoneCapture*>(userdata)->onEvent(
                type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK, type & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
        },
        this);
    const auto mask =
        static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
    if (!connection_->waitFor(pa_context_subscribe(context, mask, nullptr, nullptr), timeout_)) {
        return std::unexpected(
            pulseErrorWithText(connection_->lastErrorCode(), "Could not follow the microphone: "));
    }
    connection_->setLostHandler([this](const PlatformError& error) {
        if (running_.load()) {
            reportDisconnect(error);
        }
    });
    return {};
}

void PulseMicrophoneCapture::onSourceInfo(const pa_source_info* info) {
    sourceFound_ = true;
    if (device_.name == kDefaultInputDeviceName) {
        defaultSourceName_ = info->name ? info->name : "";
    }
    sourceIndex_ = info->index;
    sourceDescription_ = info->description ? info->description : device_.name;
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
    std::expected<void, PlatformError> connected;
    {
        PulseConnection::Lock lock(*connection_);
        connected = connectStream();
        if (!connected) {
            stream_.reset();
        } else {
            running_ = true;
        }
    }
    if (const PlatformError* error = connected ? nullptr : &connected.error()) {
        logWarning(lcCapture(), "⚠️ Microphone could not start: " + error->localizedDescription);
    }
}

void PulseMicrophoneCapture::stopRunning() {
    {
        std::lock_guard lock(watchMutex_);
        running_ = false;
    }
    watchWake_.notify_all();
    std::lock_guard control(controlMutex_);
    if (!connection_) {
        return;
    }
    PulseConnection::Lock lock(*connection_);
    stream_.reset();
}

void PulseMicrophoneCapture::watchForReturn() {
    for (;;) {
        {
            std::unique_lock lock(watchMutex_);
            if (watchWake_.wait_for(lock, kReturnPoll, [this] { return !running_.load(); })) {
                return;
            }
        }
        std::lock_guard control(controlMutex_);
        if (!running_.load()) {
            return;
        }
        // A fresh connection each time: it finds the device whether it was unplugged or the
        // whole sound server restarted.
        dropConnection();
        if (!lookUp()) {
            continue;
        }
        PulseConnection::Lock lock(*connection_);
        if (!connectStream()) {
            stream_.reset();
            continue;
        }
        logInfo(lcCapture(), "🎤 Microphone " + displayName() + " is back: it rejoins the mix");
        return;
    }
}

void PulseMicrophoneCapture::followDefault() {
    std::lock_guard control(controlMutex_);
    if (!running_.load() || !connection_ || disconnectReported_) {
        return;
    }
    PulseConnection::Lock lock(*connection_);
    const std::string previous = sourceDescription_;
    stream_.reset();
    if (!connection_->waitFor(pa_context_get_source_info_by_name(
                                  connection_->context(), kDefaultInputDeviceName,
                                  [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
                                      auto* self = static_cast<PulseMicrophoneCapture*>(userdata);
                                      if (eol == 0 && info) {
                                          self->onSourceInfo(info);
                                      }
                                  },
                                  this),
                              timeout_)) {
        return;
    }
    format_ = MicrophoneFormat::forDevice(deviceFormatName_, deviceRate_, deviceChannels_);
    if (auto connected = connectStream(); !connected) {
        stream_.reset();
        reportDisconnect(connected.error());
        return;
    }
    logInfo(lcCapture(), "🔀 Default microphone changed: " + previous + " → " + sourceDescription_);
}

std::expected<void, PlatformError> PulseMicrophoneCapture::connectStream() {
    if (!connection_->isReady()) {
        return std::unexpected(
            pulseErrorWithText(connection_->lastErrorCode(), "Could not record the microphone: "));
    }
    PulseRecordStream::Options options;
    options.name = "Meeting microphone";
    options.sampleSpec.format = sampleFormatFor(format_.encoding);
    options.sampleSpec.rate = deviceRate_;
    options.sampleSpec.channels = static_cast<std::uint8_t>(deviceChannels_);
    options.source = device_.name;
    options.fragment = kFragment;
    framesDelivered_ = 0;
    disconnectReported_ = false;
    stream_ = PulseRecordStream::connect(
        *connection_, options, [this] { onReadable(); }, [this](pa_stream_state_t state) { onState(state); });
    if (!stream_) {
        return std::unexpected(
            pulseErrorWithText(connection_->lastErrorCode(), "Could not record the microphone: "));
    }
    if (const auto ready = stream_->waitUntilReady(timeout_); !ready) {
        return std::unexpected(ready.error() == PA_ERR_TIMEOUT
                                   ? pulseError(PA_ERR_TIMEOUT, "Could not record the microphone: Timeout")
                                   : pulseErrorWithText(ready.error(), "Could not record the microphone: "));
    }
    return {};
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
        watchForReturn();
    });
}

void PulseMicrophoneCapture::onEvent(unsigned facility, unsigned type, std::uint32_t index) {
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER && !defaultSourceName_.empty() && running_.load()) {
        pa_operation_unref(pa_context_get_server_info(
            connection_->context(),
            [](pa_context*, const pa_server_info* info, void* userdata) {
                auto* self = static_cast<PulseMicrophoneCapture*>(userdata);
                if (info && info->default_source_name &&
                    self->defaultSourceName_ != info->default_source_name && !self->disconnectReported_) {
                    self->defaultSourceName_ = info->default_source_name;
                    self->events_.post([self] { self->followDefault(); });
                }
            },
            this));
        return;
    }
    if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
        index == sourceIndex_ && running_.load()) {
        reportDisconnect(
            pulseError(PA_ERR_NOENTITY, "The microphone " + sourceDescription_ + " was removed"));
    }
}

void PulseMicrophoneCapture::onState(pa_stream_state_t state) {
    if (!PA_STREAM_IS_GOOD(state) && running_.load()) {
        reportDisconnect(pulseErrorWithText(connection_->lastErrorCode(),
                                            "The microphone " + sourceDescription_ + " stopped: "));
    }
}

void PulseMicrophoneCapture::onReadable() {
    SerialQueue* queue = nullptr;
    std::shared_ptr<const BufferHandler> handler;
    {
        std::lock_guard lock(handlerMutex_);
        queue = queue_;
        handler = bufferHandler_;
    }
    const std::uint32_t frameBytes = std::max<std::uint32_t>(format_.description.bytesPerFrame, 1);
    const auto timescale = static_cast<std::int32_t>(deviceRate_);
    stream_->read([&](const void* data, std::size_t bytes) {
        const auto frames = static_cast<std::int64_t>(bytes / frameBytes);
        const std::int64_t pts = framesDelivered_;
        framesDelivered_ += frames; // a hole advances the clock too
        if (!data || !queue || !handler || frames <= 0) {
            return;
        }
        std::vector<std::byte> copy(static_cast<std::size_t>(frames) * frameBytes);
        std::memcpy(copy.data(), data, copy.size());
        auto buffer = std::make_shared<const SampleBuffer>(format_.description, std::move(copy), frames,
                                                           MediaTime::make(pts, timescale));
        queue->post([gate = gate_, handler, buffer = std::move(buffer)] {
            gate->runIfOpen([&] { (*handler)(buffer); });
        });
    });
}

} // namespace veltrane
