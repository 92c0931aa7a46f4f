#pragma once

#include <pulse/def.h>
#include <pulse/sample.h>
#include <pulse/stream.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>

namespace veltrane {

class PulseConnection;

// One record stream on a connection: created, connected with fragments of a given length, read
// and torn down in one place for every capture. Its callbacks run on the connection's event
// thread; destroying it (with the connection's lock held) disconnects it, and no callback runs
// afterwards.
class PulseRecordStream {
public:
    struct Options {
        const char* name = "Meeting capture";
        pa_sample_spec sampleSpec{};
        std::string source;                                  // the server's name of the source
        std::uint32_t monitoredSinkInput = PA_INVALID_INDEX; // only this program's stream, when set
        std::chrono::milliseconds fragment{50};
    };
    // Audio is waiting: read() takes it.
    using ReadableHandler = std::function<void()>;
    // The stream's state changed (ready, failed, terminated).
    using StateHandler = std::function<void(pa_stream_state_t)>;

    // With the connection's lock held. Null when the stream cannot be made or connected; the
    // connection's last error says why.
    [[nodiscard]] static std::unique_ptr<PulseRecordStream> connect(PulseConnection& connection,
                                                                    const Options& options,
                                                                    ReadableHandler onReadable,
                                                                    StateHandler onState);
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    // With the lock held, off the event thread: waits until the stream is recording. Fails with
    // the client library's error number (PA_ERR_TIMEOUT when the time ran out).
    [[nodiscard]] std::expected<void, int> waitUntilReady(std::chrono::milliseconds timeout);

    [[nodiscard]] pa_stream_state_t state() const;

    // On the event thread: hands every waiting fragment to `take(data, bytes)` and releases it.
    // `data` is null for a hole (audio the server lost), which still has its length.
    template <typename Take> void read(Take&& take) {
        for (;;) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            take(data, bytes);
            pa_stream_drop(stream_);
        }
    }

private:
    PulseRecordStream(PulseConnection& connection, pa_stream* stream, ReadableHandler onReadable,
                      StateHandler onState);

    PulseConnection& connection_;
    pa_stream* stream_ = nullptr;
    const ReadableHandler onReadable_;
    const StateHandler onState_;
};

} // namespace veltrane
