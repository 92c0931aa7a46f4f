#pragma once

#include "platform/capture/SystemAudioStream.h"
#include "platform/capture/pulse/PulseRecordStream.h"
#include "platform/capture/pulse/SystemAudioPacing.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/media/SampleBuffer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_sink_info;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;

namespace veltrane {

class PulseConnection;
class SerialQueue;

// System audio from a PulseAudio server, the part every kind of capture shares: the record
// streams ("taps") it opens are summed, silence fills the time in which the server sends
// nothing so that the stream always follows the wall clock, and the result is handed to the
// audio output's queue. PulseDeviceCapture and PulseApplicationCapture decide what is tapped.
//
// Start and stop run on the stream's own control thread (a serial queue, "pulse.capture"),
// which also runs the completions and `didStopWithError`; audio is handled on the
// connection's event thread.
class PulseSystemAudioStream : public SystemAudioStream {
public:
    // The capture `target` asks for: an output device's, or one program's.
    [[nodiscard]] static std::unique_ptr<SystemAudioStream>
    make(CaptureTarget target, StreamSettings settings,
         std::function<void(const PlatformError&)> didStopWithError, std::chrono::milliseconds timeout);

    ~PulseSystemAudioStream() override;
    PulseSystemAudioStream(const PulseSystemAudioStream&) = delete;
    PulseSystemAudioStream& operator=(const PulseSystemAudioStream&) = delete;

    [[nodiscard]] std::expected<void, PlatformError> setAudioHandler(SerialQueue& queue,
                                                                     AudioHandler handler) final;
    void setNoticeHandler(NoticeHandler handler) final;
    void startCapture(Completion completion) final;
    void stopCapture(Completion completion) final;

    // Quiet time after which silence is delivered, and how far behind the wall clock the
    // silence stays; both above the server's normal delivery jitter.
    static constexpr std::chrono::milliseconds kSilenceAllowance{250};
    static constexpr std::chrono::milliseconds kSilenceLag{20};
    // The stream's timer hands the audio on (mixed, with silence where nothing came) once per
    // tick: twenty hand-offs a second keep the level meters moving while the threads downstream
    // wake up seldom. The server's fragments stay short, so that a tap's first audio comes
    // quickly (the server sends whenever the device produced a block anyway).
    static constexpr std::chrono::milliseconds kFragment{20};
    static constexpr std::chrono::milliseconds kTick{50};
    // The length of the buffers handed on (all of one tick in one task).
    static constexpr std::chrono::milliseconds kBuffer{10};
    // A tick this late means the loop itself did not run (the process was stopped or starved).
    static constexpr std::chrono::milliseconds kStalledTick{150};
    // A lost sound server is waited for this long, tried again after short pauses that grow
    // from the first to the longest; then the capture ends with the loss as its error.
    static constexpr std::chrono::milliseconds kReconnectLimit{30000};
    static constexpr std::chrono::milliseconds kFirstReconnectPause{100};
    static constexpr std::chrono::milliseconds kLongestReconnectPause{1000};

protected:
    struct Tap {
        std::uint32_t id = 0;
        std::uint32_t sinkIndex = 0;
        std::unique_ptr<PulseRecordStream> stream;
        bool dead = false;
    };
    enum class State { idle, starting, running, reconnecting, ended };

    PulseSystemAudioStream(CaptureTarget target, StreamSettings settings,
                           std::function<void(const PlatformError&)> didStopWithError,
                           std::chrono::milliseconds timeout);

    // The destructor of the final class calls this first: no callback may reach a class whose
    // part is already destroyed.
    void shutDown();

    // Hooks of the kinds of capture; all with the connection's lock held.
    // Before connecting: whether the target can be captured at all.
    [[nodiscard]] virtual std::expected<void, PlatformError> checkTarget() const { return {}; }
    // After the devices were listed and the server's events subscribed: opens the first taps.
    [[nodiscard]] virtual std::expected<void, PlatformError> openTaps() = 0;
    virtual void onSinkListed(const pa_sink_info& info) = 0;
    virtual void onEvent(unsigned facility, unsigned type, std::uint32_t index) = 0;
    // A tap's stream failed or ended while running.
    virtual void onTapFailed(Tap& tap) = 0;
    // Before connecting again after the sound server was lost: forget the server's indexes.
    virtual void onReconnecting() {}
    // Once per tick, after the audio was pumped.
    virtual void onTick() {}
    // The capture runs (started or back after a reconnection). With the lock held.
    virtual void onRunning() {}

    // For the hooks.
    [[nodiscard]] Tap* openTap(std::uint32_t id, std::uint32_t sinkInput, std::uint32_t sinkIndex,
                               const std::string& source);
    void end(const PlatformError& error);
    // Tells the notice handler (from the control thread).
    void notify(Notice notice);
    [[nodiscard]] bool isFollowing() const { return state_ == State::starting || state_ == State::running; }
    [[nodiscard]] bool isRunning() const { return state_ == State::running; }
    [[nodiscard]] PulseConnection& connection() { return *connection_; }
    [[nodiscard]] pa_context* context() const;
    [[nodiscard]] std::chrono::milliseconds timeout() const { return timeout_; }
    [[nodiscard]] const CaptureTarget& target() const { return target_; }
    [[nodiscard]] std::map<std::uint32_t, std::unique_ptr<Tap>>& taps() { return taps_; }
    // Sink index -> the name of its monitor source, for every device listed or announced.
    [[nodiscard]] std::map<std::uint32_t, std::string>& sinkMonitors() { return sinkMonitors_; }
    // Asks the server for one device; onSinkListed() gets the answer.
    void requestSink(std::uint32_t index);
    // Asks for every device again.
    void requestSinks();
    // Runs `fn` on the control thread.
    void postToControl(std::function<void()> fn) { control_.post(std::move(fn)); }

private:
    // Whether the pacer may deliver silence on this pump.
    enum class SilenceFill { allowed, deferred };

    // Control thread.
    [[nodiscard]] std::expected<void, PlatformError> start();
    // Connects, follows the server's events and opens the taps; the timeline is kept.
    [[nodiscard]] std::expected<void, PlatformError> connectAndTap();
    void teardown();
    // Closes the taps and the connection without handing anything on.
    void dropConnection();
    // Waits for the sound server to come back and resumes, or ends with `lost`.
    void reconnect(const PlatformError& lost);
    // Pauses for `pause` unless a stop comes first; returns whether one came.
    [[nodiscard]] bool stopRequestedWithin(std::chrono::milliseconds pause);
    void requestStop();

    // Event thread, or any thread holding the connection's lock.
    [[nodiscard]] std::int64_t nowFrames() const;
    void closeTap(Tap& tap);
    void closeDeadTaps();
    void onTapReadable(Tap& tap);
    void onTapState(Tap& tap, pa_stream_state_t state);
    void connectionLost(const PlatformError& error);
    void pump(SilenceFill fill = SilenceFill::allowed);
    // Hands on the silence due by `now` (frames since the start).
    void fillSilence(std::int64_t now);
    void flush();
    // Cuts audio into buffers for the next delivery.
    void emit(const float* samples, std::int64_t frames, std::int64_t pts);
    // Hands the buffers cut since the last delivery to the audio output's queue.
    void deliver();
    void armTick();
    void onTickTimer();

    static void sinkListedThunk(pa_context*, const pa_sink_info* info, int eol, void* userdata);
    static void tickThunk(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);

    const CaptureTarget target_;
    const std::uint32_t channels_;
    const std::uint32_t rate_;
    const std::function<void(const PlatformError&)> didStopWithError_;
    const std::chrono::milliseconds timeout_;
    const std::shared_ptr<CallbackGate> gate_ = std::make_shared<CallbackGate>();

    std::mutex outputMutex_;
    SerialQueue* audioQueue_ = nullptr;
    std::shared_ptr<const AudioHandler> audioHandler_;
    std::shared_ptr<const NoticeHandler> noticeHandler_;

    // A stop asked for while the control thread waits for the server.
    std::mutex stopMutex_;
    std::condition_variable stopWake_;
    bool stopRequested_ = false;

    // Owned by the control thread; the fields below it are guarded by its lock.
    std::unique_ptr<PulseConnection> connection_;
    State state_ = State::idle;
    std::map<std::uint32_t, std::string> sinkMonitors_;
    std::map<std::uint32_t, std::unique_ptr<Tap>> taps_;
    std::optional<SilencePacer> pacer_;
    std::optional<SourceMixer> mixer_;
    std::vector<SampleBufferPtr> batch_; // cut, not yet delivered
    std::vector<float> silence_;         // one tick of silence
    std::chrono::steady_clock::time_point startedAt_;
    std::chrono::steady_clock::time_point lastTickAt_;
    std::int64_t runningAtFrames_ = 0;   // nowFrames() when the capture started running
    std::int64_t lastArrivalFrames_ = 0; // nowFrames() when audio last came from the server
    pa_time_event* tick_ = nullptr;
    bool stopReported_ = false;

    // The control thread; shut down (what has not started is dropped) by shutDown().
    SerialQueue control_{"pulse.capture"};
};

} // namespace veltrane
