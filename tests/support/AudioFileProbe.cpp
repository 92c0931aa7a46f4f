#include "support/AudioFileProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace veltrane::test {

namespace {

float sampleAt(const AVFrame& frame, int channel, int index) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const uint8_t* plane = frame.extended_data[planar ? channel : 0];
    const int offset = planar ? index : index * frame.ch_layout.nb_channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_S16:
        return static_cast<float>(reinterpret_cast<const std::int16_t*>(plane)[offset]) / 32768.0f;
    case AV_SAMPLE_FMT_S32:
        return static_cast<float>(reinterpret_cast<const std::int32_t*>(plane)[offset]) / 2147483648.0f;
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float*>(plane)[offset];
    default:
        return 0.0f;
    }
}

double seconds(std::int64_t value, AVRational timeBase) {
    return value == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(value) * av_q2d(timeBase);
}

} // namespace

std::optional<DecodedAudio> decodeAudioFile(const std::filesystem::path& path) {
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format(
        rawFormat, [](AVFormatContext* f) { avformat_close_input(&f); });
    const int streamIndex = avformat_find_stream_info(format.get(), nullptr) < 0
                                ? -1
                                : av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        return std::nullopt;
    }
    const AVStream* stream = format->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    if (!codec || !decoder || avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return std::nullopt;
    }
    DecodedAudio result;
    result.codecName = codec->name;
    result.sampleRate = stream->codecpar->sample_rate;
    result.channels = stream->codecpar->ch_layout.nb_channels;
    result.durationSeconds = stream->duration != AV_NOPTS_VALUE
                                 ? seconds(stream->duration, stream->time_base)
                                 : seconds(format->duration, AVRational{1, AV_TIME_BASE});
    result.startTimeSeconds = seconds(stream->start_time, stream->time_base);

    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                          [](AVPacket* p) { av_packet_free(&p); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                       [](AVFrame* f) { av_frame_free(&f); });
    const auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            const int channels = frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) {
                    sum += sampleAt(*frame, c, i);
                }
                result.mono.push_back(sum / static_cast<float>(channels));
            }
            if (frame->format == AV_SAMPLE_FMT_S16) {
                const auto* samples = reinterpret_cast<const std::int16_t*>(frame->data[0]);
                result.int16Samples.insert(result.int16Samples.end(), samples,
                                           samples +
                                               static_cast<std::ptrdiff_t>(frame->nb_samples) * channels);
            }
        }
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex && avcodec_send_packet(decoder.get(), packet.get()) == 0) {
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    return result;
}

double tonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz) {
    if (samples.empty() || sampleRate <= 0) {
        return 0;
    }
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequencyHz / sampleRate);
    double previous = 0, beforePrevious = 0;
    for (const float sample : samples) {
        const double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    const double power =
        previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    const double n = static_cast<double>(samples.size());
    return 2.0 * power / (n * n);
}

double windowedTonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz,
                         std::size_t windowSamples) {
    double sum = 0;
    std::size_t windows = 0;
    for (std::size_t start = 0; start + windowSamples <= samples.size(); start += windowSamples, ++windows) {
        const auto begin = samples.begin() + static_cast<std::ptrdiff_t>(start);
        sum +=
            tonePower({begin, begin + static_cast<std::ptrdiff_t>(windowSamples)}, sampleRate, frequencyHz);
    }
    return windows > 0 ? sum / static_cast<double>(windows) : 0.0;
}

std::vector<SampleRange> toneBreaks(const std::vector<float>& samples, int sampleRate, double frequencyHz,
                                    std::size_t windowSamples) {
    std::vector<SampleRange> breaks;
    if (sampleRate <= 0 || windowSamples < 2 || samples.size() < windowSamples) {
        return breaks;
    }
    const double omega = 2.0 * std::numbers::pi * frequencyHz / sampleRate;
    std::vector<double> sine(windowSamples), cosine(windowSamples);
    double ss = 0, sc = 0, cc = 0;
    for (std::size_t n = 0; n < windowSamples; ++n) {
        sine[n] = std::sin(omega * static_cast<double>(n));
        cosine[n] = std::cos(omega * static_cast<double>(n));
        ss += sine[n] * sine[n];
        sc += sine[n] * cosine[n];
        cc += cosine[n] * cosine[n];
    }
    // Per window: the amplitude of the best-fitting sine and what it leaves unexplained (rms).
    const std::size_t hop = windowSamples / 2;
    std::vector<std::pair<double, double>> fits;
    for (std::size_t start = 0; start + windowSamples <= samples.size(); start += hop) {
        double sx = 0, cx = 0;
        for (std::size_t n = 0; n < windowSamples; ++n) {
            sx += sine[n] * samples[start + n];
            cx += cosine[n] * samples[start + n];
        }
        const double determinant = ss * cc - sc * sc;
        const double a = (sx * cc - cx * sc) / determinant;
        const double b = (cx * ss - sx * sc) / determinant;
        double residual = 0;
        for (std::size_t n = 0; n < windowSamples; ++n) {
            const double error = samples[start + n] - a * sine[n] - b * cosine[n];
            residual += error * error;
        }
        fits.emplace_back(std::hypot(a, b), std::sqrt(residual / static_cast<double>(windowSamples)));
    }
    std::vector<double> amplitudes;
    for (const auto& fit : fits) {
        amplitudes.push_back(fit.first);
    }
    const auto middle = amplitudes.begin() + static_cast<std::ptrdiff_t>(amplitudes.size() / 2);
    std::nth_element(amplitudes.begin(), middle, amplitudes.end());
    const double typical = *middle;
    for (std::size_t w = 0; w < fits.size(); ++w) {
        const auto [amplitude, residual] = fits[w];
        if (residual <= typical / 20 && amplitude >= typical / 2 && amplitude <= typical * 2) {
            continue;
        }
        const SampleRange window{w * hop, w * hop + windowSamples};
        if (!breaks.empty() && window.beginSample <= breaks.back().endSample) {
            breaks.back().endSample = window.endSample;
        } else {
            breaks.push_back(window);
        }
    }
    for (SampleRange& range : breaks) {
        range.beginSample += hop;
        range.endSample -= hop;
    }
    return breaks;
}

double rms(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    end = std::min(end, samples.size());
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return begin < end ? std::sqrt(sum / static_cast<double>(end - begin)) : 0.0;
}

} // namespace veltrane::test
