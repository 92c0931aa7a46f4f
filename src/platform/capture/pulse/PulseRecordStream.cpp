#include "platform/capture/pulse/PulseRecordStream.h"

#include "platform/capture/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace veltrane {

std::unique_ptr<PulseRecordStream> PulseRecordStream::connect(PulseConnection& connection,
                                                              const Options& options,
                                                              ReadableHandler onReadable,
                                                              StateHandler onState) {
    pa_sample_spec sampleSpec = options.sampleSpec;
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_stream* stream = pa_stream_new(connection.context(), options.name, &sampleSpec, &map);
    if (!stream) {
        return nullptr;
    }
    std::unique_ptr<PulseRecordStream> record(
        new PulseRecordStream(connection, stream, std::move(onReadable), std::move(onState)));
    if (options.monitoredSinkInput != PA_INVALID_INDEX) {
        pa_stream_set_monitor_stream(stream, options.monitoredSinkInput);
    }
    // The server gathers a whole fragment before it sends: the fragment length sets how often
    // this process wakes up for audio.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(options.fragment.count()) * PA_USEC_PER_MSEC, &sampleSpec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, options.source.c_str(), &attributes, flags) < 0) {
        return nullptr;
    }
    return record;
}

PulseRecordStream::PulseRecordStream(PulseConnection& connection, pa_stream* stream,
                                     ReadableHandler onReadable, StateHandler onState)
    : connection_(connection), stream_(stream), onReadable_(std::move(onReadable)),
      onState_(std::move(onState)) {
    pa_stream_set_read_callback(
        stream_,
        [](pa_stream*, std::size_t, void* userdata) {
            auto* self = static_cast<PulseRecordStream*>(userdata);
            if (self->onReadable_) {
                self->onReadable_();
            }
        },
        this);
    pa_stream_set_state_callback(
        stream_,
        [](pa_stream* stream, void* userdata) {
            auto* self = static_cast<PulseRecordStream*>(userdata);
            self->connection_.signal();
            if (self->onState_) {
                self->onState_(pa_stream_get_state(stream));
            }
        },
        this);
}

PulseRecordStream::~PulseRecordStream() {
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
        pa_stream_disconnect(stream_);
    }
    pa_stream_unref(stream_);
}

std::expected<void, int> PulseRecordStream::waitUntilReady(std::chrono::milliseconds timeout) {
    pa_stream* stream = stream_;
    const bool settled = connection_.waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeout);
    if (!settled) {
        return std::unexpected(PA_ERR_TIMEOUT);
    }
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        return std::unexpected(connection_.lastErrorCode());
    }
    return {};
}

pa_stream_state_t PulseRecordStream::state() const {
    return pa_stream_get_state(stream_);
}

} // namespace veltrane
