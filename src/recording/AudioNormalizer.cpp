#include "recording/AudioNormalizer.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

namespace veltrane {

namespace {

constexpr std::uint32_t kExtraOutputFrames = 1024;

// Shortest text that reads back to the same double, with at least one digit after the point.
std::string rateText(double sampleRateHz) {
    char text[64] = {};
    const auto [end, error] =
        std::to_chars(text, text + sizeof(text), sampleRateHz, std::chars_format::fixed);
    std::string result = error == std::errc{} ? std::string(text, end) : std::to_string(sampleRateHz);
    if (result.find('.') == std::string::npos && std::isfinite(sampleRateHz)) {
        result += ".0";
    }
    return result;
}

// Output rate ÷ input rate × input frames, truncated, plus room for what the converter holds.
std::uint32_t outputCapacityFrames(double outputRateHz, double inputRateHz, std::uint32_t inputFrames) {
    const double frames = std::trunc(outputRateHz / inputRateHz * static_cast<double>(inputFrames));
    constexpr double kLargest = std::numeric_limits<std::uint32_t>::max() - kExtraOutputFrames;
    return static_cast<std::uint32_t>(std::clamp(frames, 0.0, kLargest)) + kExtraOutputFrames;
}

} // namespace

AudioNormalizer::AudioNormalizer(double targetSampleRateHz) : targetSampleRateHz_(targetSampleRateHz) {}

PcmBuffer::Format AudioNormalizer::targetFormatFor(const PcmBuffer::Format& input) const {
    return PcmBuffer::Format{PcmCommonFormat::float32, targetSampleRateHz_, input.channelCount, false};
}

std::string AudioNormalizer::formatKey(const PcmBuffer::Format& format) {
    const StreamDescription description = format.streamDescription();
    return rateText(description.sampleRate) + "-" + std::to_string(description.channelsPerFrame) + "-" +
           std::to_string(description.formatFlags) + "-" + std::to_string(description.bitsPerChannel) + "-" +
           std::to_string(description.formatID);
}

const AudioNormalizer::ConverterEntry* AudioNormalizer::converterFor(const PcmBuffer::Format& input) {
    const std::string key = formatKey(input);
    if (const auto found = converters_.find(key); found != converters_.end()) {
        return &found->second;
    }
    const PcmBuffer::Format target = targetFormatFor(input);
    if (!target.isValid()) {
        return nullptr;
    }
    std::unique_ptr<AudioConverter> converter = AudioConverter::make(input, target);
    if (!converter) {
        logWarning(lcRecording(),
                   "🎚 no converter from " + input.description() + " to " + target.description());
        return nullptr;
    }
    const auto [stored, inserted] = converters_.emplace(key, ConverterEntry{std::move(converter), target});
    logDebug(lcRecording(), "🎚 converter ready: " + input.description() + " → " + target.description());
    return &stored->second;
}

PcmBufferPtr AudioNormalizer::convert(const PcmBufferPtr& buffer) {
    if (!buffer) {
        return nullptr;
    }
    const ConverterEntry* entry = converterFor(buffer->format());
    if (entry == nullptr) {
        return nullptr;
    }
    if (buffer->format() == entry->output) {
        return buffer;
    }
    const std::uint32_t capacityFrames = outputCapacityFrames(
        entry->output.sampleRateHz, buffer->format().sampleRateHz, buffer->frameLength());
    const std::shared_ptr<PcmBuffer> output = PcmBuffer::make(entry->output, capacityFrames);
    if (!output) {
        return nullptr;
    }
    bool handedOver = false;
    const AudioConverter::Result result = entry->converter->convert(*output, [&]() {
        if (handedOver) {
            return AudioConverter::Input{AudioConverter::InputStatus::noDataNow, nullptr};
        }
        handedOver = true;
        return AudioConverter::Input{AudioConverter::InputStatus::haveData, buffer};
    });
    if (!result) {
        logWarning(lcRecording(), "🎚 audio conversion failed: " + result.error().localizedDescription);
        return nullptr;
    }
    switch (*result) {
    case AudioConverter::OutputStatus::haveData:
    case AudioConverter::OutputStatus::inputRanDry:
        return output->frameLength() > 0 ? output : nullptr;
    case AudioConverter::OutputStatus::endOfStream:
        return nullptr;
    }
    return nullptr;
}

PcmBufferPtr AudioNormalizer::makePCMBuffer(const SampleBuffer& sampleBuffer) {
    if (!sampleBuffer.format()) {
        return nullptr;
    }
    const std::optional<PcmBuffer::Format> format =
        PcmBuffer::Format::fromStreamDescription(*sampleBuffer.format());
    if (!format) {
        return nullptr;
    }
    const std::int64_t frames = sampleBuffer.numSamples();
    if (frames <= 0 || frames > std::numeric_limits<std::uint32_t>::max()) {
        return nullptr;
    }
    const std::unique_ptr<const PcmBuffer> wrapper =
        PcmBuffer::borrowing(*format, std::span<const std::byte>(sampleBuffer.data()));
    if (!wrapper) {
        return nullptr;
    }
    const std::shared_ptr<PcmBuffer> copy = PcmBuffer::make(*format, static_cast<std::uint32_t>(frames));
    if (!copy) {
        return nullptr;
    }
    copy->setFrameLength(std::min(wrapper->frameLength(), static_cast<std::uint32_t>(frames)));
    copyAudioData(*wrapper, *copy, *format);
    return copy;
}

void AudioNormalizer::copyAudioData(const PcmBuffer& from, PcmBuffer& to, const PcmBuffer::Format& format) {
    if (from.format() != format || to.format() != format) {
        return;
    }
    const std::size_t frames = std::min(to.frameLength(), from.frameLength());
    const std::size_t planes = format.planeCount();
    const std::size_t samplesPerFramePerPlane = format.interleaved ? format.channelCount : 1;
    const auto copyPlanes = [&](auto sourcePlane, auto destinationPlane, std::size_t sampleSizeBytes) {
        const std::size_t bytesPerPlane = frames * samplesPerFramePerPlane * sampleSizeBytes;
        for (std::size_t plane = 0; plane < planes; ++plane) {
            const void* source = sourcePlane(plane);
            void* destination = destinationPlane(plane);
            if (source != destination) {
                std::memmove(destination, source, bytesPerPlane);
            }
        }
    };
    const auto index = [](std::size_t plane) { return static_cast<std::uint32_t>(plane); };
    if (from.floatChannelData(0) != nullptr && to.floatChannelData(0) != nullptr) {
        copyPlanes([&](std::size_t p) { return from.floatChannelData(index(p)); },
                   [&](std::size_t p) { return to.floatChannelData(index(p)); }, sizeof(float));
    } else if (from.int16ChannelData(0) != nullptr && to.int16ChannelData(0) != nullptr) {
        copyPlanes([&](std::size_t p) { return from.int16ChannelData(index(p)); },
                   [&](std::size_t p) { return to.int16ChannelData(index(p)); }, sizeof(std::int16_t));
    } else if (from.int32ChannelData(0) != nullptr && to.int32ChannelData(0) != nullptr) {
        copyPlanes([&](std::size_t p) { return from.int32ChannelData(index(p)); },
                   [&](std::size_t p) { return to.int32ChannelData(index(p)); }, sizeof(std::int32_t));
    }
}

std::vector<float> AudioNormalizer::monoSamples(const PcmBuffer& buffer) {
    const float* first = buffer.floatChannelData(0);
    const std::size_t frames = buffer.frameLength();
    if (first == nullptr || frames == 0) {
        return {};
    }
    const std::uint32_t channels = buffer.format().channelCount;
    if (channels == 1) {
        return std::vector<float>(first, first + frames);
    }
    std::vector<float> mono(frames, 0.0f);
    if (!buffer.format().interleaved) {
        const float scale = 1.0f / static_cast<float>(channels);
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            const float* samples = buffer.floatChannelData(channel);
            for (std::size_t i = 0; i < frames; ++i) {
                mono[i] += samples[i];
            }
        }
        for (float& sample : mono) {
            sample *= scale;
        }
        return mono;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            sum += first[i * channels + channel];
        }
        mono[i] = sum / static_cast<float>(channels);
    }
    return mono;
}

} // namespace veltrane
