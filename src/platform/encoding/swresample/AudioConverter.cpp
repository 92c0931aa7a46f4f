#include "platform/encoding/swresample/AudioConverter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace veltrane {

namespace {

constexpr const char* kErrorDomain = "AudioConverter";

AVSampleFormat sampleFormatOf(const PcmBuffer::Format& format) {
    switch (format.commonFormat) {
    case PcmCommonFormat::float32:
        return format.interleaved ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
    case PcmCommonFormat::int16:
        return format.interleaved ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S16P;
    case PcmCommonFormat::int32:
        return format.interleaved ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S32P;
    }
    return AV_SAMPLE_FMT_NONE;
}

// libswresample takes whole-number rates; fractional rates are rounded to the nearest one.
bool rateFits(double sampleRateHz) {
    return std::isfinite(sampleRateHz) && sampleRateHz >= 1 && sampleRateHz <= INT_MAX;
}

PlatformError resamplerError(int averror, const std::string& context) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof(text));
    return PlatformError{kErrorDomain, averror, context + ": " + text, nullptr};
}

PlatformError converterError(std::int64_t code, const std::string& description) {
    return PlatformError{kErrorDomain, code, description, nullptr};
}

} // namespace

void AudioConverter::SwrContextDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}

AudioConverter::AudioConverter(const PcmBuffer::Format& input, const PcmBuffer::Format& output,
                               SwrContext* context)
    : inputFormat_(input), outputFormat_(output), context_(context) {}

AudioConverter::~AudioConverter() = default;

std::unique_ptr<AudioConverter> AudioConverter::make(const PcmBuffer::Format& input,
                                                     const PcmBuffer::Format& output) {
    if (!input.isValid() || !output.isValid() || !rateFits(input.sampleRateHz) ||
        !rateFits(output.sampleRateHz)) {
        return nullptr;
    }
    AVChannelLayout inputLayout{};
    AVChannelLayout outputLayout{};
    av_channel_layout_default(&inputLayout,
                              static_cast<int>(std::min<std::uint32_t>(input.channelCount, INT_MAX)));
    av_channel_layout_default(&outputLayout,
                              static_cast<int>(std::min<std::uint32_t>(output.channelCount, INT_MAX)));
    SwrContext* context = nullptr;
    const int allocated = swr_alloc_set_opts2(
        &context, &outputLayout, sampleFormatOf(output), static_cast<int>(std::lround(output.sampleRateHz)),
        &inputLayout, sampleFormatOf(input), static_cast<int>(std::lround(input.sampleRateHz)), 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    av_channel_layout_uninit(&outputLayout);
    if (allocated < 0 || context == nullptr) {
        swr_free(&context);
        return nullptr;
    }
    std::unique_ptr<SwrContext, SwrContextDeleter> owned(context);
    if (swr_init(owned.get()) < 0) {
        return nullptr;
    }
    return std::unique_ptr<AudioConverter>(new AudioConverter(input, output, owned.release()));
}

int AudioConverter::run(PcmBuffer& output, std::uint32_t writtenFrames, const PcmBuffer* input, bool flush) {
    const std::size_t outputOffsetBytes =
        static_cast<std::size_t>(writtenFrames) * outputFormat_.bytesPerFramePerPlane();
    std::vector<std::uint8_t*> outputPlanes(outputFormat_.planeCount());
    for (std::uint32_t plane = 0; plane < outputFormat_.planeCount(); ++plane) {
        outputPlanes[plane] =
            reinterpret_cast<std::uint8_t*>(output.mutablePlaneData(plane)) + outputOffsetBytes;
    }
    const int outputRoomFrames =
        static_cast<int>(std::min<std::uint32_t>(output.frameCapacity() - writtenFrames, INT_MAX));
    if (flush) {
        return swr_convert(context_.get(), outputPlanes.data(), outputRoomFrames, nullptr, 0);
    }
    // With no input buffer the planes point at one frame of nothing and the count is 0: that
    // only takes out what the resampler holds from earlier input, without ending the stream.
    const std::vector<std::uint8_t> noFrame(inputFormat_.bytesPerFramePerPlane());
    std::vector<const std::uint8_t*> inputPlanes(inputFormat_.planeCount(), noFrame.data());
    int inputFrames = 0;
    if (input != nullptr) {
        for (std::uint32_t plane = 0; plane < inputFormat_.planeCount(); ++plane) {
            inputPlanes[plane] = reinterpret_cast<const std::uint8_t*>(input->planeData(plane));
        }
        inputFrames = static_cast<int>(std::min<std::uint32_t>(input->frameLength(), INT_MAX));
    }
    return swr_convert(context_.get(), outputPlanes.data(), outputRoomFrames, inputPlanes.data(),
                       inputFrames);
}

AudioConverter::Result AudioConverter::convert(PcmBuffer& output, const InputProvider& provider) {
    output.setFrameLength(0);
    if (output.format() != outputFormat_ || output.mutablePlaneData(0) == nullptr) {
        return std::unexpected(converterError(-1, "output buffer " + output.format().description() +
                                                      " is not in the converter's output format " +
                                                      outputFormat_.description()));
    }
    const std::uint32_t capacityFrames = output.frameCapacity();
    std::uint32_t writtenFrames = 0;
    const auto advance = [&](int produced, const char* context) -> std::optional<PlatformError> {
        if (produced < 0) {
            return resamplerError(produced, context);
        }
        writtenFrames += static_cast<std::uint32_t>(produced);
        output.setFrameLength(writtenFrames);
        return std::nullopt;
    };
    const auto afterFlush = [&]() {
        return Result{writtenFrames == capacityFrames ? OutputStatus::haveData : OutputStatus::endOfStream};
    };

    // Audio held back by earlier calls comes first.
    if (auto error = advance(run(output, 0, nullptr, flushed_), "could not take out pending audio")) {
        return std::unexpected(std::move(*error));
    }
    if (flushed_) {
        return afterFlush();
    }
    while (writtenFrames < capacityFrames) {
        const Input input = provider();
        switch (input.status) {
        case InputStatus::haveData:
            if (!input.buffer || input.buffer->format() != inputFormat_) {
                return std::unexpected(converterError(
                    -2, "input buffer " +
                            (input.buffer ? input.buffer->format().description() : std::string("(none)")) +
                            " is not in the converter's input format " + inputFormat_.description()));
            }
            if (auto error = advance(run(output, writtenFrames, input.buffer.get(), false),
                                     "could not convert audio")) {
                return std::unexpected(std::move(*error));
            }
            break;
        case InputStatus::noDataNow:
            return OutputStatus::inputRanDry;
        case InputStatus::endOfStream:
            flushed_ = true;
            if (auto error = advance(run(output, writtenFrames, nullptr, true), "could not flush audio")) {
                return std::unexpected(std::move(*error));
            }
            return afterFlush();
        case InputStatus::error:
            return std::unexpected(converterError(-3, "the input provider reported an error"));
        }
    }
    return OutputStatus::haveData;
}

} // namespace veltrane
