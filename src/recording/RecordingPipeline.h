#pragma once

#include "platform/capture/MicrophoneCapture.h"
#include "platform/media/SampleBuffer.h"
#include "recording/AudioNormalizer.h"
#include "recording/MicrophoneSampleQueue.h"
#include "recording/SystemAudioIntake.h"
#include "storage/ChunkRecovery.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace veltrane {

class ChunkedAudioWriter;

// Whether the recording being started mixes a microphone into the system audio.
enum class MicrophoneInput { absent, present };

// The processing side of a recording session: takes every system-audio and microphone buffer,
// normalises and queues the microphone, mixes it into the system audio, rotates and appends to
// the current chunk writer, and measures the levels. Everything here runs on the session's
// processing queue (a serial queue), one task at a time, so its state needs no lock. The only
// exceptions are the atomics of `Shared` and takeLevels(), which the main thread uses.
// It reaches the session only through the SessionLink callbacks, which it calls on the
// processing queue; the session posts whatever they carry to the main thread.
class RecordingPipeline {
public:
    // Microphone samples waiting to be mixed are bounded to half a second at the session rate.
    static constexpr std::size_t kMicQueueBoundSamples = 24000;
    // The microphone joins the mix (at first and after its queue ran dry) with a lead queued.
    // System audio arrives as 50 ms of buffers at once (60 ms when a tick runs late), so the lead
    // is that burst, 10 ms of room and one more microphone block, which comes in 10 ms on
    // PulseAudio and in 50 ms on PipeWire: 80 ms and 120 ms. The microphone lags the system audio
    // by about the lead less a burst.
    static constexpr std::size_t kMicLeadSamples = 3840;
    static constexpr std::size_t kMicLeadBeyondBlockSamples = 3360;
    // A microphone block that comes late (its thread or the server ran late on a busy machine)
    // still belongs beside the system audio of its time: while the microphone is being mixed,
    // system audio whose microphone samples have not come yet waits for them, up to this much.
    // Past that the microphone counts as gone: the waiting audio goes on and the queue's
    // underrun is logged.
    static constexpr std::size_t kMicLateLimitSamples = 24000;

    struct SessionLink {
        // Levels wait for the main thread; called again only after takeLevels().
        std::function<void()> levelsPending;
        // The chunk writer of recording `generation` could not start a chunk: that recording
        // cannot go on. Called once per recording.
        std::function<void(std::uint64_t generation, const std::string& description)> recordingFailed;
    };

    // Written on one side and read on the other.
    struct Shared {
        std::atomic<float> systemGain{1.0f};     // set by the session
        std::atomic<float> microphoneGain{1.0f}; // set by the session
        std::atomic<bool> sessionStarted{false}; // a first buffer reached the chunk writer
        std::atomic<bool> samplesWritten{false}; // the chunk writer accepted a buffer
    };

    // The meters written since the last hand-off; the others are unset.
    struct Levels {
        std::optional<double> system;
        std::optional<double> microphone;
        std::optional<double> output;
    };

    explicit RecordingPipeline(SessionLink link);
    RecordingPipeline(const RecordingPipeline&) = delete;
    RecordingPipeline& operator=(const RecordingPipeline&) = delete;

    [[nodiscard]] Shared& shared() { return shared_; }
    [[nodiscard]] const Shared& shared() const { return shared_; }

    // Main thread, after levelsPending: the levels to show.
    [[nodiscard]] Levels takeLevels();

    // Recording `generation` writes to `writer` from now on; buffers still queued from an
    // earlier recording never reach it.
    void beginRecording(std::shared_ptr<ChunkedAudioWriter> writer, std::uint64_t generation);
    // Sets up (or drops) the microphone's normaliser for the recording being started.
    void prepareMicrophone(MicrophoneInput input);
    void setFiling(const std::optional<ChunkFiling>& filing);

    // The capture handlers.
    void handleSystemAudio(const SampleBufferPtr& buffer);
    void handleMicrophoneBuffer(const SampleBufferPtr& buffer);

    // The processing side of a stop: ends the microphone's deliveries, forgets its samples and
    // closes `writer`'s last chunk.
    void stop(const std::shared_ptr<ChunkedAudioWriter>& writer,
              const std::shared_ptr<MicrophoneCapture>& microphone);

private:
    enum class Release { whenMicrophoneReady, all };
    // Hands the waiting system audio on, oldest first; with whenMicrophoneReady it stops at the
    // first buffer whose microphone samples are late (unless the limit is reached).
    void releaseSystemAudio(Release release);
    void processSystemAudio(const SampleBufferPtr& buffer);
    void appendSystemAudio(const SampleBufferPtr& buffer);
    // Hands the levels measured since the last hand-off to the main thread, with at most one
    // post under way: the meters follow the buffers without a post per meter and buffer.
    void publishLevels();
    // Logs the microphone queue's underruns sparingly (the first and every 200th), and the
    // microphone audio its bound dropped.
    void noteMicrophoneUnderruns();

    // Levels written on the processing queue and read on the main thread.
    struct PendingLevels {
        enum class Meter : unsigned { system, microphone, output };
        static constexpr std::size_t kMeterCount = 3;
        std::array<std::atomic<double>, kMeterCount> values{};
        std::atomic<unsigned> changed{0}; // one bit per meter written since the last hand-off
        std::atomic<bool> posted{false};
        void store(Meter meter, double level);
    };
    static constexpr double kLevelsIntervalSeconds = 0.05;

    SessionLink link_;
    Shared shared_;
    PendingLevels levels_;
    double levelsDueInSeconds_ = 0; // audio until the next hand-off

    MicrophoneSampleQueue micBufferQueue_{
        {.minimumSamples = kMicLeadSamples, .beyondLargestBlockSamples = kMicLeadBeyondBlockSamples}};
    std::shared_ptr<ChunkedAudioWriter> processingWriter_;
    std::uint64_t processingGeneration_ = 0; // the recording processingWriter_ belongs to
    bool rotationFailed_ = false;
    std::unique_ptr<AudioNormalizer> micNormalizer_; // present while a recording with a microphone runs
    bool hasLoggedMicFormat_ = false;
    std::int64_t micConversionFailures_ = 0;
    std::int64_t micUnderruns_ = 0;                  // as last seen in the queue
    std::int64_t micDroppedSamples_ = 0;             // as last seen in the queue
    std::deque<SampleBufferPtr> waitingSystemAudio_; // for late microphone samples
    std::size_t waitingSystemFrames_ = 0;
    double detectedMicSampleRate_ = 48000;
    SystemAudioIntake intake_;
};

} // namespace veltrane
