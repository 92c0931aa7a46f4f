#pragma once

#include "platform/encoding/swresample/AudioConverter.h"
#include "platform/media/PcmBuffer.h"
#include "platform/media/SampleBuffer.h"

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace veltrane {

// Brings microphone audio of any rate, sample type, channel count and layout to one target
// format: the target rate, 32-bit float, non-interleaved, with the input's channel count.
// Keeps one converter per distinct input format for its whole life, so consecutive buffers
// of one format pass through the same converter and resample without gaps or clicks.
//
// Used from one thread at a time (the recorder's processing queue); it has no lock.
class AudioNormalizer {
public:
    // A cached converter and the format it produces.
    struct ConverterEntry {
        std::unique_ptr<AudioConverter> converter;
        PcmBuffer::Format output;
    };

    explicit AudioNormalizer(double targetSampleRateHz = 48000.0);

    [[nodiscard]] double targetSampleRateHz() const { return targetSampleRateHz_; }

    // `buffer` in the target format: the same object when it already is in that format, a
    // converted copy otherwise; nothing when there is no converter for its format or the
    // conversion produced no audio.
    [[nodiscard]] PcmBufferPtr convert(const PcmBufferPtr& buffer);

    // The cached converter for `input`, created (and logged) on first use; nothing when no
    // converter can be made, in which case the next call tries again.
    [[nodiscard]] const ConverterEntry* converterFor(const PcmBuffer::Format& input);

    // How many input formats have a cached converter.
    [[nodiscard]] std::size_t converterCount() const { return converters_.size(); }

    // The cache key of an input format: rate-channels-flags-bits-formatID, e.g.
    // "44100.0-2-9-32-1819304813".
    [[nodiscard]] static std::string formatKey(const PcmBuffer::Format& format);

    // A PCM buffer holding a copy of the sample buffer's audio in the sample buffer's own
    // format; nothing when it has no (supported) format, no frames or no readable data.
    [[nodiscard]] static PcmBufferPtr makePCMBuffer(const SampleBuffer& sampleBuffer);

    // Copies the destination's frame length of audio from `from` to `to`, plane by plane.
    // Nothing is copied unless both buffers are in `format`, and never more frames than the
    // source holds.
    static void copyAudioData(const PcmBuffer& from, PcmBuffer& to, const PcmBuffer::Format& format);

    // One float per frame, the average of the channels; empty for a buffer that holds no
    // 32-bit float samples or no frames.
    [[nodiscard]] static std::vector<float> monoSamples(const PcmBuffer& buffer);

private:
    [[nodiscard]] PcmBuffer::Format targetFormatFor(const PcmBuffer::Format& input) const;

    double targetSampleRateHz_ = 48000.0;
    std::unordered_map<std::string, ConverterEntry> converters_;
};

} // namespace veltrane
