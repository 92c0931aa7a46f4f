#pragma once

#include "platform/media/SampleBuffer.h"
#include "recording/MicrophoneSampleQueue.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace veltrane {

// Turns each system-audio buffer into the buffer the chunk writer appends: converts it to
// interleaved float, applies the system gain, meters it, mixes in queued microphone samples,
// clips, and wraps the result with the input's presentation time. Runs in the recording
// pipeline, on the processing queue only; levels leave through the sink.
class SystemAudioIntake {
public:
    struct LevelSink {
        std::function<void(double)> systemLevel;
        std::function<void(double)> micLevel;
        std::function<void(double)> audioLevel;
    };

    SystemAudioIntake(MicrophoneSampleQueue& micQueue, const std::atomic<float>& microphoneGain,
                      const std::atomic<bool>& samplesWritten, LevelSink levels);

    // The output buffer, or null when the input cannot be read or no output can be built.
    [[nodiscard]] SampleBufferPtr processSystemAudio(const SampleBuffer& input, bool mixMicrophone,
                                                     float gain);

    // Meters a buffer the writer accepted and reports it as the output level.
    void meterOutput(const SampleBuffer& buffer);

    // 0 at -60 dBFS or quieter, 1 at full scale, linear in decibels in between.
    [[nodiscard]] static double computeLevel(std::span<const float> samples);

    // Adds queued microphone samples (times the microphone gain) to both channels of the
    // first frames of `samples`, taken as two-channel interleaved.
    void mixInMicrophone(std::vector<float>& samples);

    // An interleaved-float buffer at 48000 Hz with `channels` channels holding `samples`,
    // stamped with the input's presentation time; null when `channels` is unusable.
    [[nodiscard]] static SampleBufferPtr makeSampleBuffer(const std::vector<float>& samples,
                                                          const SampleBuffer& input, std::uint32_t channels);

private:
    MicrophoneSampleQueue& micQueue_;
    const std::atomic<float>& microphoneGain_;
    const std::atomic<bool>& samplesWritten_;
    LevelSink levels_;
    std::vector<float> samples_; // reused for every buffer
    std::vector<float> taken_;   // microphone samples taken for the current buffer
};

} // namespace veltrane
