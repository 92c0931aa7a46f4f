#pragma once

#include "platform/capture/SystemAudioStream.h"
#include "platform/capture/pulse/CallbackGate.h"
#include "platform/capture/pulse/ControlThread.h"
#include "platform/capture/pulse/SilencePacer.h"
#include "platform/capture/pulse/SourceMixer.h"
#include "platform/media/SampleBuffer.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_sink_info;
struct pa_sink_input_info;
struct pa_client_info;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;

namespace veltrane {

class PulseConnection;
class SerialQueue;

// System audio from a PulseAudio server. A display filter records the output device's
// monitor (everything the device plays); an application filter records only the playback
// streams of the given programs, each through its own monitor stream, summed, and follows
// the programs as they open and close streams. Silence fills the time in which the server
// sends nothing, so that the stream always follows the wall clock.
//
// Start and stop run on the stream's own control thread, which also runs the completions
// and `didStopWithError`; audio is handled on the connection's event thread.
class PulseSystemAudioStream final : public SystemAudioStream {
public:
    PulseSystemAudioStream(ContentFilter filter, StreamConfiguration configuration,
                           std::function<void(const PlatformError&)> didStopWithError,
                           std::chrono::milliseconds timeout);
    ~PulseSystemAudioStream() override;
    PulseSystemAudioStream(const PulseSystemAudioStream&) = delete;
    PulseSystemAudioStream& operator=(const PulseSystemAudioStream&) = delete;

    [[nodiscard]] std::optional<PlatformError> addStreamOutput(StreamOutputType type, SerialQueue& queue,
                                                               OutputHandler handler) override;
    void startCapture(Completion completion) override;
    void stopCapture(Completion completion) override;

    // Quiet time after which silence is delivered, and how far behind the wall clock the
    // silence stays; both above the server's normal delivery jitter.
    static constexpr std::chrono::milliseconds kSilenceAllowance{250};
    static constexpr std::chrono::milliseconds kSilenceLag{20};
    // The stream's timer hands the audio on (mixed, with silence where nothing came) once per
    // tick: twenty hand-offs a second keep the level meters moving while the threads downstream
    // wake up seldom. The server is asked for fragments as long, which it sends that seldom
    // unless another program wants the device to run with less latency.
    static constexpr std::chrono::milliseconds kFragment{50};
    static constexpr std::chrono::milliseconds kTick{50};
    // The length of the buffers handed on (all of one tick in one task).
    static constexpr std::chrono::milliseconds kBuffer{10};
    // A tick this late means the loop itself did not run (the process was stopped or starved).
    static constexpr std::chrono::milliseconds kStalledTick{150};

private:
    struct Tap {
        PulseSystemAudioStream* owner = nullptr;
        std::uint32_t id = 0;
        std::uint32_t sinkIndex = 0;
        pa_stream* stream = nullptr;
        bool dead = false;
    };
    enum class State { idle, starting, running, ended };

    // Control thread.
    [[nodiscard]] std::optional<PlatformError> start();
    void teardown();

    // Event thread, or any thread holding the connection's lock.
    [[nodiscard]] bool isApplicationCapture() const;
    [[nodiscard]] std::int64_t nowFrames() const;
    Tap* openTap(std::uint32_t id, std::uint32_t sinkInput, std::uint32_t sinkIndex,
                 const std::string& source);
    void closeTap(Tap& tap);
    void closeDeadTaps();
    // Whether the pacer may deliver silence on this pump.
    enum class SilenceFill { allowed, deferred };
    void pump(SilenceFill fill = SilenceFill::allowed);
    void flush();
    // Cuts audio into buffers for the next delivery.
    void emit(const float* samples, std::int64_t frames, std::int64_t pts);
    // Hands the buffers cut since the last delivery to the audio output's queue.
    void deliver();
    void end(const PlatformError& error);
    void checkApplicationsAlive();
    void armTick();

    void onSinkListed(const pa_sink_info* info);
    void onSinkInputInfo(const pa_sink_input_info* info);
    void onClientInfo(const pa_client_info* info, int eol);
    void onEvent(unsigned facility, unsigned type, std::uint32_t index);
    void onTapRead(Tap& tap);
    void onTapState(Tap& tap);

    static void sinkListedThunk(pa_context*, const pa_sink_info* info, int eol, void* userdata);
    static void displayCheckThunk(pa_context*, const pa_sink_info* info, int eol, void* userdata);
    static void sinkInputThunk(pa_context*, const pa_sink_input_info* info, int eol, void* userdata);
    static void clientThunk(pa_context*, const pa_client_info* info, int eol, void* userdata);
    static void tapReadThunk(pa_stream*, std::size_t bytes, void* userdata);
    static void tapStateThunk(pa_stream*, void* userdata);
    static void tickThunk(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);

    const ContentFilter filter_;
    const StreamConfiguration configuration_;
    const std::uint32_t channels_;
    const std::uint32_t rate_;
    const std::function<void(const PlatformError&)> didStopWithError_;
    const std::chrono::milliseconds timeout_;
    const std::shared_ptr<CallbackGate> gate_ = std::make_shared<CallbackGate>();

    std::mutex outputMutex_;
    SerialQueue* audioQueue_ = nullptr;
    std::shared_ptr<const OutputHandler> audioHandler_;

    // Owned by the control thread; the fields below it are guarded by its lock.
    std::unique_ptr<PulseConnection> connection_;
    State state_ = State::idle;
    std::set<std::int32_t> processIds_;
    std::map<std::uint32_t, std::string> sinkMonitors_; // sink index -> its monitor source
    std::uint32_t sinkIndex_ = 0xFFFFFFFFu;             // the captured device (display filter)
    std::string sinkDescription_;
    std::map<std::uint32_t, std::unique_ptr<Tap>> taps_;
    std::optional<SilencePacer> pacer_;
    std::optional<SourceMixer> mixer_;
    std::vector<SampleBufferPtr> batch_; // cut, not yet delivered
    std::vector<float> silence_;
    std::chrono::steady_clock::time_point startedAt_;
    std::chrono::steady_clock::time_point lastTickAt_;
    std::int64_t runningAtFrames_ = 0;   // nowFrames() when the capture started running
    std::int64_t lastArrivalFrames_ = 0; // nowFrames() when audio last came from the server
    pa_time_event* tick_ = nullptr;
    int ticksUntilLivenessCheck_ = 0;
    bool livenessQueryRunning_ = false;
    bool applicationClientSeen_ = false;
    bool stopReported_ = false;

    ControlThread control_{"pulse.capture"};
};

} // namespace veltrane
