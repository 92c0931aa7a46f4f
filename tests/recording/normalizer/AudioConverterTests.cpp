#include "platform/encoding/swresample/AudioConverter.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrane {
namespace {

const PcmBuffer::Format kInt16Mono48k{PcmCommonFormat::int16, 48000, 1, true};
const PcmBuffer::Format kInt16Mono44k{PcmCommonFormat::int16, 44100, 1, true};
const PcmBuffer::Format kFloatMono48k{PcmCommonFormat::float32, 48000, 1, false};

// An int16 mono buffer whose sample i is first + i.
PcmBufferPtr ramp(const PcmBuffer::Format& format, std::uint32_t frames, std::int16_t first = 0) {
    auto buffer = PcmBuffer::make(format, frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        buffer->int16ChannelData(0)[i] = static_cast<std::int16_t>(first + static_cast<std::int16_t>(i));
    }
    buffer->setFrameLength(frames);
    return buffer;
}

// Hands over the given buffers one per call, then answers `after`.
struct ScriptedProvider {
    std::vector<PcmBufferPtr> buffers;
    AudioConverter::InputStatus after = AudioConverter::InputStatus::noDataNow;
    int calls = 0;

    AudioConverter::InputProvider provider() {
        return [this]() {
            const auto index = static_cast<std::size_t>(calls++);
            if (index < buffers.size()) {
                return AudioConverter::Input{AudioConverter::InputStatus::haveData, buffers[index]};
            }
            return AudioConverter::Input{after, nullptr};
        };
    }
};

TEST(AudioConverter, KeepsWhatDoesNotFitAndReportsErrors) {
    auto converter = AudioConverter::make(kInt16Mono48k, kFloatMono48k);
    auto output = PcmBuffer::make(kFloatMono48k, 300);
    ScriptedProvider input{{ramp(kInt16Mono48k, 1000)}};
    std::vector<float> all;
    AudioConverter::OutputStatus status{};
    for (int call = 0; call < 5; ++call) {
        status = converter->convert(*output, input.provider()).value();
        EXPECT_TRUE(call > 0 || input.calls == 1);
        all.insert(all.end(), output->floatChannelData(0),
                   output->floatChannelData(0) + output->frameLength());
    }
    EXPECT_EQ(status, AudioConverter::OutputStatus::inputRanDry);
    ASSERT_EQ(all.size(), 1000u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        ASSERT_FLOAT_EQ(all[i], static_cast<float>(i) / 32768.0f) << "frame " << i;
    }

    ScriptedProvider failing{{}, AudioConverter::InputStatus::error};
    EXPECT_FALSE(converter->convert(*output, failing.provider()).has_value());
    ScriptedProvider wrongInput{{ramp(kInt16Mono44k, 10)}};
    EXPECT_FALSE(converter->convert(*output, wrongInput.provider()).has_value());
    auto wrongOutput = PcmBuffer::make({PcmCommonFormat::float32, 44100, 1, false}, 100);
    ScriptedProvider unused{{ramp(kInt16Mono48k, 10)}};
    EXPECT_FALSE(converter->convert(*wrongOutput, unused.provider()).has_value());
    EXPECT_EQ(unused.calls, 0);
}

} // namespace
} // namespace veltrane
