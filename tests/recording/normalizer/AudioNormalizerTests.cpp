#include "recording/AudioNormalizer.h"

#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace veltrane {
namespace {

const PcmBuffer::Format kFloatMono48k{PcmCommonFormat::float32, 48000, 1, false};
const PcmBuffer::Format kFloatStereo48k{PcmCommonFormat::float32, 48000, 2, false};
const PcmBuffer::Format kInt16Mono48k{PcmCommonFormat::int16, 48000, 1, true};
const PcmBuffer::Format kInt16Mono44k{PcmCommonFormat::int16, 44100, 1, true};

// A float buffer whose channel c holds values[c] in every one of `frames` frames.
std::shared_ptr<PcmBuffer> constantFloat(const PcmBuffer::Format& format, std::uint32_t frames,
                                         const std::vector<float>& values) {
    auto buffer = PcmBuffer::make(format, frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < format.channelCount; ++c) {
            if (format.interleaved) {
                buffer->floatChannelData(0)[i * format.channelCount + c] = values[c];
            } else {
                buffer->floatChannelData(c)[i] = values[c];
            }
        }
    }
    buffer->setFrameLength(frames);
    return buffer;
}

std::shared_ptr<PcmBuffer> constantInt16(const PcmBuffer::Format& format, std::uint32_t frames,
                                         std::int16_t value) {
    auto buffer = PcmBuffer::make(format, frames);
    for (std::uint32_t i = 0; i < frames * format.channelCount; ++i) {
        buffer->int16ChannelData(0)[i] = value;
    }
    buffer->setFrameLength(frames);
    return buffer;
}

template <typename Sample>
SampleBuffer sampleBuffer(const StreamDescription& description, const std::vector<Sample>& samples,
                          std::int64_t frames) {
    std::vector<std::byte> bytes(samples.size() * sizeof(Sample));
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), samples.data(), bytes.size());
    }
    return SampleBuffer(description, std::move(bytes), frames, MediaTime::invalid());
}

TEST(AudioNormalizerPassThrough, ReturnsABufferInTheTargetFormatItself) {
    AudioNormalizer normalizer;
    const PcmBufferPtr input = constantFloat(kFloatMono48k, 256, {0.25f});
    const PcmBufferPtr output = normalizer.convert(input);
    EXPECT_EQ(output.get(), input.get());
    const std::vector<float> mono = AudioNormalizer::monoSamples(*output);
    EXPECT_EQ(mono, std::vector<float>(256, 0.25f));
}

TEST(AudioNormalizerPassThrough, ConvertsAnInterleavedStereoBufferAtTheTargetRate) {
    AudioNormalizer normalizer;
    const PcmBufferPtr input = constantFloat({PcmCommonFormat::float32, 48000, 2, true}, 64, {0.5f, -0.25f});
    const PcmBufferPtr output = normalizer.convert(input);
    ASSERT_TRUE(output);
    EXPECT_NE(output.get(), input.get());
    EXPECT_EQ(output->format(), kFloatStereo48k);
    ASSERT_EQ(output->frameLength(), 64u);
    EXPECT_FLOAT_EQ(output->floatChannelData(0)[63], 0.5f);
    EXPECT_FLOAT_EQ(output->floatChannelData(1)[63], -0.25f);
}

TEST(AudioNormalizerMono, AveragesTheChannels) {
    EXPECT_EQ(AudioNormalizer::monoSamples(*constantFloat(kFloatStereo48k, 10, {0.5f, -0.5f})),
              std::vector<float>(10, 0.0f));
    EXPECT_EQ(AudioNormalizer::monoSamples(*constantFloat(kFloatStereo48k, 10, {1.0f, 0.0f})),
              std::vector<float>(10, 0.5f));
    const auto interleaved = constantFloat({PcmCommonFormat::float32, 48000, 3, true}, 4, {0.3f, 0.6f, 0.9f});
    for (float sample : AudioNormalizer::monoSamples(*interleaved)) {
        EXPECT_NEAR(sample, 0.6f, 1e-6f);
    }
}

TEST(AudioNormalizerMono, GivesNothingForIntegerSamplesOrNoFrames) {
    EXPECT_TRUE(AudioNormalizer::monoSamples(*constantInt16(kInt16Mono48k, 10, 100)).empty());
    auto empty = constantFloat(kFloatStereo48k, 10, {1.0f, 1.0f});
    empty->setFrameLength(0);
    EXPECT_TRUE(AudioNormalizer::monoSamples(*empty).empty());
}

TEST(AudioNormalizerConversion, TurnsInt16IntoFloat) {
    AudioNormalizer normalizer;
    const PcmBufferPtr output = normalizer.convert(constantInt16(kInt16Mono48k, 480, 16384));
    ASSERT_TRUE(output);
    EXPECT_EQ(output->format(), kFloatMono48k);
    const std::vector<float> mono = AudioNormalizer::monoSamples(*output);
    EXPECT_EQ(mono, std::vector<float>(480, 0.5f));
}

TEST(AudioNormalizerConversion, MakesRoomForTheRateRatioPlus1024Frames) {
    AudioNormalizer normalizer;
    const PcmBufferPtr output = normalizer.convert(constantInt16(kInt16Mono44k, 1024, 1000));
    ASSERT_TRUE(output);
    EXPECT_EQ(output->frameCapacity(), 2138u);
    EXPECT_EQ(output->format(), kFloatMono48k);
    EXPECT_GT(output->frameLength(), 1024u);
    EXPECT_LE(output->frameLength(), 1115u);
}

TEST(AudioNormalizerConversion, UsesTheTargetRateItWasMadeWith) {
    AudioNormalizer normalizer(16000);
    const PcmBufferPtr output = normalizer.convert(constantInt16(kInt16Mono48k, 4800, 1000));
    ASSERT_TRUE(output);
    EXPECT_EQ(output->format(), (PcmBuffer::Format{PcmCommonFormat::float32, 16000, 1, false}));
    EXPECT_NEAR(output->frameCapacity(), 1600.0 + 1024.0, 1.0);
    EXPECT_NEAR(output->frameLength(), 1600.0, 32.0);
}

TEST(AudioNormalizerCache, MakesOneConverterAndOneLinePerInputFormat) {
    AudioNormalizer normalizer;
    test::StdoutCapture capture;
    ASSERT_TRUE(normalizer.convert(constantInt16(kInt16Mono44k, 441, 100)));
    ASSERT_TRUE(normalizer.convert(constantInt16(kInt16Mono44k, 441, 100)));
    EXPECT_EQ(normalizer.converterCount(), 1u);
    ASSERT_TRUE(normalizer.convert(constantFloat(kFloatStereo48k, 480, {0.1f, 0.2f})));
    ASSERT_TRUE(normalizer.convert(constantFloat(kFloatStereo48k, 480, {0.1f, 0.2f})));
    EXPECT_EQ(normalizer.converterCount(), 2u);
    EXPECT_EQ(capture.count("🎚 converter ready: "), 2u);
    EXPECT_TRUE(capture.contains("🎚 converter ready: <1 ch, 44100 Hz, Int16, interleaved> → "
                                 "<1 ch, 48000 Hz, Float32, non-interleaved>\n"));
}

TEST(AudioNormalizerCache, TriesAgainAndLogsEveryTimeNoConverterCanBeMade) {
    AudioNormalizer normalizer;
    const PcmBuffer::Format tooManyChannels{PcmCommonFormat::int16, 48000, 65, true};
    test::StdoutCapture capture;
    EXPECT_FALSE(normalizer.convert(constantInt16(tooManyChannels, 10, 1)));
    EXPECT_FALSE(normalizer.convert(constantInt16(tooManyChannels, 10, 1)));
    EXPECT_EQ(normalizer.converterCount(), 0u);
    EXPECT_EQ(capture.count("🎚 no converter from <65 ch, 48000 Hz, Int16, interleaved> to "
                            "<65 ch, 48000 Hz, Float32, non-interleaved>"),
              2u);
}

TEST(AudioNormalizerCache, KeysFormatsByRateChannelsFlagsBitsAndFormatID) {
    EXPECT_EQ(AudioNormalizer::formatKey(kInt16Mono48k), "48000.0-1-12-16-1819304813");
    EXPECT_EQ(AudioNormalizer::formatKey({PcmCommonFormat::float32, 44100, 2, true}),
              "44100.0-2-9-32-1819304813");
    EXPECT_EQ(AudioNormalizer::formatKey({PcmCommonFormat::int32, 22050.5, 2, false}),
              "22050.5-2-44-32-1819304813");
}

TEST(AudioNormalizerSampleBuffers, CopiesInterleavedAudioInItsOwnFormat) {
    std::vector<std::int16_t> samples{1, -1, 2, -2, 3, -3};
    std::optional<SampleBuffer> source = sampleBuffer(
        PcmBuffer::Format{PcmCommonFormat::int16, 44100, 2, true}.streamDescription(), samples, 3);
    const PcmBufferPtr buffer = AudioNormalizer::makePCMBuffer(*source);
    source.reset();
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->format(), (PcmBuffer::Format{PcmCommonFormat::int16, 44100, 2, true}));
    ASSERT_EQ(buffer->frameLength(), 3u);
    EXPECT_EQ(std::vector<std::int16_t>(buffer->int16ChannelData(0), buffer->int16ChannelData(0) + 6),
              samples);
}

TEST(AudioNormalizerSampleBuffers, CopiesEachPlaneOfNonInterleavedAudio) {
    const std::vector<float> samples{0.1f, 0.2f, 0.3f, -0.1f, -0.2f, -0.3f};
    const PcmBufferPtr buffer = AudioNormalizer::makePCMBuffer(sampleBuffer(
        PcmBuffer::Format{PcmCommonFormat::float32, 48000, 2, false}.streamDescription(), samples, 3));
    ASSERT_TRUE(buffer);
    ASSERT_EQ(buffer->frameLength(), 3u);
    EXPECT_FLOAT_EQ(buffer->floatChannelData(0)[2], 0.3f);
    EXPECT_FLOAT_EQ(buffer->floatChannelData(1)[0], -0.1f);
    EXPECT_EQ(AudioNormalizer::monoSamples(*buffer), std::vector<float>(3, 0.0f));
}

TEST(AudioNormalizerSampleBuffers, KeepsOnlyTheFramesTheDataHolds) {
    const std::vector<std::int32_t> samples{10, 20, 30};
    const auto description = PcmBuffer::Format{PcmCommonFormat::int32, 48000, 1, true}.streamDescription();
    const PcmBufferPtr shortData = AudioNormalizer::makePCMBuffer(sampleBuffer(description, samples, 5));
    ASSERT_TRUE(shortData);
    EXPECT_EQ(shortData->frameCapacity(), 5u);
    EXPECT_EQ(shortData->frameLength(), 3u);
    EXPECT_EQ(shortData->int32ChannelData(0)[2], 30);
    const PcmBufferPtr fewerFrames = AudioNormalizer::makePCMBuffer(sampleBuffer(description, samples, 2));
    ASSERT_TRUE(fewerFrames);
    EXPECT_EQ(fewerFrames->frameLength(), 2u);
}

TEST(AudioNormalizerSampleBuffers, GivesNothingWithoutFormatFramesOrData) {
    const auto description = PcmBuffer::Format{PcmCommonFormat::int16, 48000, 1, true}.streamDescription();
    const std::vector<std::int16_t> samples{1, 2, 3};
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(sampleBuffer(description, samples, 0)));
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(sampleBuffer(description, std::vector<std::int16_t>{}, 3)));
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(SampleBuffer(std::nullopt, {}, 3, MediaTime::invalid())));
    StreamDescription aac = description;
    aac.formatID = kAudioFormatMPEG4AAC;
    EXPECT_FALSE(AudioNormalizer::makePCMBuffer(sampleBuffer(aac, samples, 3)));
}

TEST(AudioNormalizerSampleBuffers, CopiesNothingBetweenBuffersOfAnotherFormat) {
    auto from = constantInt16(kInt16Mono48k, 4, 7);
    auto to = constantInt16({PcmCommonFormat::int16, 48000, 2, true}, 4, 0);
    AudioNormalizer::copyAudioData(*from, *to, kInt16Mono48k);
    EXPECT_EQ(to->int16ChannelData(0)[0], 0);
    auto longer = constantInt16(kInt16Mono48k, 8, 0);
    AudioNormalizer::copyAudioData(*from, *longer, kInt16Mono48k);
    EXPECT_EQ(longer->int16ChannelData(0)[3], 7);
    EXPECT_EQ(longer->int16ChannelData(0)[4], 0); // never reads past the source's frames
}

} // namespace
} // namespace veltrane
