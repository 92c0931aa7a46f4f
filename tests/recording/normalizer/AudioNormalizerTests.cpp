#include "recording/AudioNormalizer.h"

#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace veltrane {
namespace {

const PcmBuffer::Format kFloatMono48k{PcmCommonFormat::float32, 48000, 1, false};
const PcmBuffer::Format kFloatStereo48k{PcmCommonFormat::float32, 48000, 2, false};
const PcmBuffer::Format kInt16Mono48k{PcmCommonFormat::int16, 48000, 1, true};
const PcmBuffer::Format kInt16Mono44k{PcmCommonFormat::int16, 44100, 1, true};

// A buffer of `frames` frames whose channel c holds values[c] in every frame (int16 formats take
// values[c] * 32768).
std::shared_ptr<PcmBuffer> constant(const PcmBuffer::Format& format, std::uint32_t frames,
                                    const std::vector<float>& values) {
    auto buffer = PcmBuffer::make(format, frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < format.channelCount; ++c) {
            const std::size_t at = format.interleaved ? i * format.channelCount + c : i;
            const std::uint32_t plane = format.interleaved ? 0 : c;
            if (format.commonFormat == PcmCommonFormat::int16) {
                buffer->int16ChannelData(plane)[at] = static_cast<std::int16_t>(values[c] * 32768.0f);
            } else {
                buffer->floatChannelData(plane)[at] = values[c];
            }
        }
    }
    buffer->setFrameLength(frames);
    return buffer;
}

template <typename Sample>
SampleBuffer sampleBuffer(const PcmBuffer::Format& format, const std::vector<Sample>& samples,
                          std::int64_t frames) {
    std::vector<std::byte> bytes(samples.size() * sizeof(Sample));
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), samples.data(), bytes.size());
    }
    return SampleBuffer(format.streamDescription(), std::move(bytes), frames, MediaTime::invalid());
}

// Interleaved input becomes planar float; the target format passes through untouched (the
// microphone's 44.1 kHz int16 runs end to end).
TEST(AudioNormalizer, InterleavedBecomesPlanarAndTheTargetFormatPassesThrough) {
    AudioNormalizer normalizer;
    const PcmBufferPtr planar =
        normalizer.convert(constant({PcmCommonFormat::float32, 48000, 2, true}, 64, {0.5f, -0.25f}));
    ASSERT_TRUE(planar);
    EXPECT_EQ(planar->format(), kFloatStereo48k);
    EXPECT_EQ(planar->frameLength(), 64u);
    EXPECT_FLOAT_EQ(planar->floatChannelData(1)[63], -0.25f);
    const PcmBufferPtr already = constant(kFloatMono48k, 256, {0.25f});
    EXPECT_EQ(normalizer.convert(already).get(), already.get());
}

TEST(AudioNormalizer, MonoIsTheAverageOfTheChannelsOfFloatAudio) {
    const std::pair<PcmBufferPtr, float> averages[] = {
        {constant(kFloatStereo48k, 10, {1.0f, 0.0f}), 0.5f},
        {constant({PcmCommonFormat::float32, 48000, 3, true}, 4, {0.3f, 0.6f, 0.9f}), 0.6f},
    };
    for (const auto& [buffer, average] : averages) {
        const std::vector<float> mono = AudioNormalizer::monoSamples(*buffer);
        ASSERT_EQ(mono.size(), buffer->frameLength());
        for (const float sample : mono) {
            EXPECT_NEAR(sample, average, 1e-6f);
        }
    }
    EXPECT_TRUE(AudioNormalizer::monoSamples(*constant(kInt16Mono48k, 10, {0.1f})).empty());
    auto empty = constant(kFloatStereo48k, 10, {1.0f, 1.0f});
    empty->setFrameLength(0);
    EXPECT_TRUE(AudioNormalizer::monoSamples(*empty).empty());
}

TEST(AudioNormalizer, OneConverterPerInputFormatAndARetryWhenNoneCanBeMade) {
    AudioNormalizer normalizer;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(normalizer.convert(constant(kInt16Mono44k, 441, {0.01f})));
        ASSERT_TRUE(
            normalizer.convert(constant({PcmCommonFormat::float32, 48000, 2, true}, 480, {0.1f, 0.2f})));
    }
    EXPECT_EQ(normalizer.converterCount(), 2u);

    const PcmBuffer::Format tooManyChannels{PcmCommonFormat::int16, 48000, 65, true};
    test::LogCapture failures;
    EXPECT_FALSE(normalizer.convert(constant(tooManyChannels, 10, std::vector<float>(65, 0.0f))));
    EXPECT_FALSE(normalizer.convert(constant(tooManyChannels, 10, std::vector<float>(65, 0.0f))));
    EXPECT_EQ(normalizer.converterCount(), 2u);
    EXPECT_EQ(failures.count("🎚 no converter from <65 ch, 48000 Hz, Int16, interleaved>"), 2u);
}

TEST(AudioNormalizer, SampleBuffersAreCopiedInTheirOwnFormatOrRefused) {
    const std::vector<std::int16_t> interleaved{1, -1, 2, -2, 3, -3};
    const PcmBuffer::Format int16Stereo{PcmCommonFormat::int16, 44100, 2, true};
    std::optional<SampleBuffer> source = sampleBuffer(int16Stereo, interleaved, 3);
    const PcmBufferPtr copy = AudioNormalizer::makePCMBuffer(*source);
    source.reset();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->format(), int16Stereo);
    EXPECT_EQ(std::vector<std::int16_t>(copy->int16ChannelData(0), copy->int16ChannelData(0) + 6),
              interleaved);

    const PcmBuffer::Format int32Mono{PcmCommonFormat::int32, 48000, 1, true};
    const std::vector<std::int32_t> three{10, 20, 30};
    const PcmBufferPtr shortData = AudioNormalizer::makePCMBuffer(sampleBuffer(int32Mono, three, 5));
    ASSERT_TRUE(shortData);
    EXPECT_EQ(shortData->frameLength(), 3u) << "only the frames the data holds";
    EXPECT_EQ(AudioNormalizer::makePCMBuffer(sampleBuffer(int32Mono, three, 2))->frameLength(), 2u);

    StreamDescription aac = kInt16Mono48k.streamDescription();
    aac.formatID = kAudioFormatMPEG4AAC;
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(sampleBuffer(kInt16Mono48k, interleaved, 0)));
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(sampleBuffer(kInt16Mono48k, std::vector<std::int16_t>{}, 3)));
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(SampleBuffer(std::nullopt, {}, 3, MediaTime::invalid())));
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(
        SampleBuffer(aac, std::vector<std::byte>(6), 3, MediaTime::invalid())));

    auto from = constant(kInt16Mono48k, 4, {0.25f});
    auto longer = constant(kInt16Mono48k, 8, {0.0f});
    AudioNormalizer::copyAudioData(*from, *longer, kInt16Mono48k);
    EXPECT_EQ(longer->int16ChannelData(0)[3], 8192);
    EXPECT_EQ(longer->int16ChannelData(0)[4], 0) << "never reads past the source's frames";
    auto stereo = constant({PcmCommonFormat::int16, 48000, 2, true}, 4, {0.0f, 0.0f});
    AudioNormalizer::copyAudioData(*from, *stereo, kInt16Mono48k);
    EXPECT_EQ(stereo->int16ChannelData(0)[0], 0) << "nothing is copied into another format";
}

} // namespace
} // namespace veltrane
