#include "recording/SystemAudioIntake.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace veltrane {

namespace {

constexpr double kOutputSampleRate = 48000.0;

template <typename Sample, typename Convert>
void deinterleavePlanar(const Sample* planes, std::size_t count, std::uint32_t channels,
                        std::vector<float>& out, Convert convert) {
    const std::size_t frames = count / channels;
    out.resize(frames * channels);
    float* target = out.data();
    for (std::size_t frame = 0; frame < frames; ++frame) {
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            *target++ = convert(planes[channel * frames + frame]);
        }
    }
}

} // namespace

SystemAudioIntake::SystemAudioIntake(MicrophoneSampleQueue& micQueue,
                                     const std::atomic<float>& microphoneGain,
                                     const std::atomic<bool>& samplesWritten, LevelSink levels)
    : micQueue_(micQueue), microphoneGain_(microphoneGain), samplesWritten_(samplesWritten),
      levels_(std::move(levels)) {}

SampleBufferPtr SystemAudioIntake::processSystemAudio(const SampleBuffer& input, bool mixMicrophone,
                                                      float gain) {
    const std::vector<std::byte>& data = input.data();
    if (data.empty() || !input.format()) {
        return nullptr;
    }
    const StreamDescription& format = *input.format();
    const std::uint32_t channels = format.channelsPerFrame;
    const bool isFloat = format.isFloat();
    const bool planar = format.isNonInterleaved();
    if (channels == 0) {
        return nullptr;
    }

    const std::size_t length = data.size();
    std::size_t count = 0;
    constexpr auto kFromInt16 = [](std::int16_t value) { return static_cast<float>(value) / 32768.0f; };
    constexpr auto kAsIs = [](float value) { return value; };
    if (!isFloat) {
        count = length / 2;
        std::vector<std::int16_t> values(count);
        std::memcpy(values.data(), data.data(), count * sizeof(std::int16_t));
        if (planar) {
            deinterleavePlanar(values.data(), count, channels, samples_, kFromInt16);
        } else {
            samples_.resize(count);
            std::transform(values.begin(), values.end(), samples_.begin(), kFromInt16);
        }
    } else {
        count = length / 4;
        if (planar) {
            std::vector<float> values(count);
            std::memcpy(values.data(), data.data(), count * sizeof(float));
            deinterleavePlanar(values.data(), count, channels, samples_, kAsIs);
        } else {
            samples_.resize(count);
            std::memcpy(samples_.data(), data.data(), count * sizeof(float));
        }
    }

    if (!samplesWritten_.load()) {
        const std::string channelText = std::to_string(channels) + " channels, ";
        const std::string countText = std::to_string(count) + " samples";
        if (!isFloat) {
            logDebug(lcRecording(), "📊 System audio: Int16, " + channelText +
                                        (planar ? "NON-INTERLEAVED" : "interleaved") + ", " + countText);
        } else if (!planar) {
            logDebug(lcRecording(), "📊 System audio: Float32, " + channelText + "interleaved, " + countText);
        } else {
            logDebug(lcRecording(), "📊 System audio: Float32, " + channelText + "NON-INTERLEAVED, " +
                                        countText + " → interleaved");
        }
    }

    if (std::fabs(gain - 1.0f) >= 0.01f) {
        for (float& sample : samples_) {
            sample *= gain;
        }
    }

    levels_.systemLevel(computeLevel(samples_));

    if (!mixMicrophone) {
        levels_.micLevel(0.0);
    } else {
        mixInMicrophone(samples_);
    }

    for (float& sample : samples_) {
        sample = std::clamp(sample, -1.0f, 1.0f);
    }

    return makeSampleBuffer(samples_, input, channels);
}

void SystemAudioIntake::mixInMicrophone(std::vector<float>& samples) {
    const std::size_t frames = samples.size() / 2;
    if (frames == 0) {
        return;
    }
    const std::size_t remaining = micQueue_.take(frames, taken_);
    const std::size_t take = taken_.size();
    if (take == 0) {
        levels_.micLevel(0.0);
        return;
    }
    if (!samplesWritten_.load()) {
        logDebug(lcRecording(), "🔍 Mixing: system=" + std::to_string(frames) +
                                    " frames, mic=" + std::to_string(take) +
                                    " samples, queue remaining=" + std::to_string(remaining));
    }
    levels_.micLevel(computeLevel(taken_));
    const float gain = microphoneGain_.load();
    for (std::size_t i = 0; i < take; ++i) {
        const float mic = taken_[i] * gain;
        samples[2 * i] += mic;
        samples[2 * i + 1] += mic;
    }
}

double SystemAudioIntake::computeLevel(std::span<const float> samples) {
    const std::size_t count = samples.size();
    if (count == 0) {
        return 0.0;
    }
    const std::size_t step = count >= 1000 ? count / 1000 : 1;
    float sum = 0.0f;
    std::size_t visited = 0;
    for (std::size_t i = 0; i < count; i += step) {
        sum += samples[i] * samples[i];
        ++visited;
    }
    float rms = std::sqrt(sum / static_cast<float>(visited));
    rms = std::max(rms, 0.00001f);
    const float decibels = 20.0f * std::log10(rms);
    const float level = std::clamp((decibels + 60.0f) / 60.0f, 0.0f, 1.0f);
    return static_cast<double>(level);
}

void SystemAudioIntake::meterOutput(const SampleBuffer& buffer) {
    const std::vector<std::byte>& data = buffer.data();
    if (data.size() < 4) {
        return;
    }
    const std::span<const float> samples(reinterpret_cast<const float*>(data.data()), data.size() / 4);
    levels_.audioLevel(computeLevel(samples));
}

SampleBufferPtr SystemAudioIntake::makeSampleBuffer(const std::vector<float>& samples,
                                                    const SampleBuffer& input, std::uint32_t channels) {
    if (channels < 1 || channels > std::numeric_limits<std::uint32_t>::max() / 4) {
        return nullptr;
    }
    return SampleBuffer::fromInterleavedFloats(samples.data(), samples.size(), channels, kOutputSampleRate,
                                               input.presentationTime());
}

} // namespace veltrane
