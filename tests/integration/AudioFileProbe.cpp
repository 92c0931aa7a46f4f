#include "integration/AudioFileProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include <cmath>
#include <memory>
#include <numbers>

namespace veltrane::test {

namespace {

float sampleAt(const AVFrame& frame, int channel, int index) {
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int plane = planar ? channel : 0;
    const int offset = planar ? index : index * channels + channel;
    switch (format) {
    case AV_SAMPLE_FMT_S16:
    case AV_SAMPLE_FMT_S16P:
        return static_cast<float>(reinterpret_cast<const std::int16_t*>(frame.extended_data[plane])[offset]) /
               32768.0f;
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        return reinterpret_cast<const float*>(frame.extended_data[plane])[offset];
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_S32P:
        return static_cast<float>(reinterpret_cast<const std::int32_t*>(frame.extended_data[plane])[offset]) /
               2147483648.0f;
    default:
        return 0.0f;
    }
}

} // namespace

std::optional<DecodedAudio> decodeAudioFile(const std::filesystem::path& path) {
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format(
        rawFormat, [](AVFormatContext* f) { avformat_close_input(&f); });
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return std::nullopt;
    }
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        return std::nullopt;
    }
    const AVStream* stream = format->streams[streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        return std::nullopt;
    }
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        return std::nullopt;
    }
    DecodedAudio result;
    result.codecName = codec->name;
    result.sampleRate = stream->codecpar->sample_rate;
    result.channels = stream->codecpar->ch_layout.nb_channels;
    if (stream->duration != AV_NOPTS_VALUE) {
        result.durationSeconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    } else if (format->duration != AV_NOPTS_VALUE) {
        result.durationSeconds = static_cast<double>(format->duration) / AV_TIME_BASE;
    }

    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto drain = [&] {
        while (avcodec_receive_frame(decoder.get(), frame) == 0) {
            const int channels = frame->ch_layout.nb_channels;
            for (int i = 0; i < frame->nb_samples; ++i) {
                float sum = 0;
                for (int c = 0; c < channels; ++c) {
                    sum += sampleAt(*frame, c, i);
                }
                result.mono.push_back(sum / static_cast<float>(channels));
            }
        }
    };
    while (av_read_frame(format.get(), packet) >= 0) {
        if (packet->stream_index == streamIndex && avcodec_send_packet(decoder.get(), packet) == 0) {
            drain();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.get(), nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    return result;
}

double tonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz) {
    if (samples.empty() || sampleRate <= 0) {
        return 0;
    }
    const double omega = 2.0 * std::numbers::pi * frequencyHz / sampleRate;
    const double coefficient = 2.0 * std::cos(omega);
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
    for (std::size_t start = 0; start + windowSamples <= samples.size(); start += windowSamples) {
        const std::vector<float> window(samples.begin() + static_cast<std::ptrdiff_t>(start),
                                        samples.begin() + static_cast<std::ptrdiff_t>(start + windowSamples));
        sum += tonePower(window, sampleRate, frequencyHz);
        ++windows;
    }
    return windows > 0 ? sum / static_cast<double>(windows) : 0.0;
}

double rms(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    end = std::min(end, samples.size());
    if (begin >= end) {
        return 0;
    }
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return std::sqrt(sum / static_cast<double>(end - begin));
}

} // namespace veltrane::test
