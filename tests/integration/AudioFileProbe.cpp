#include "integration/AudioFileProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
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

// Sines and cosines of the given angular frequencies over one window: row 2k is sin(omega_k n),
// row 2k+1 cos(omega_k n), for n in [0, length).
std::vector<std::vector<double>> sineBasis(const std::vector<double>& omegas, std::size_t length) {
    std::vector<std::vector<double>> rows;
    for (const double omega : omegas) {
        std::vector<double> sine(length), cosine(length);
        for (std::size_t n = 0; n < length; ++n) {
            sine[n] = std::sin(omega * static_cast<double>(n));
            cosine[n] = std::cos(omega * static_cast<double>(n));
        }
        rows.push_back(std::move(sine));
        rows.push_back(std::move(cosine));
    }
    return rows;
}

struct SineFit {
    std::vector<double> amplitudes; // one per frequency
    double residual = 0;            // root mean square of what the sines leave unexplained
};

// Least squares fit of `basis` to `samples` (normal equations, Gauss-Jordan elimination).
SineFit fitSines(const float* samples, const std::vector<std::vector<double>>& basis) {
    const std::size_t m = basis.size();
    const std::size_t length = basis.front().size();
    std::vector<std::vector<double>> system(m, std::vector<double>(m + 1, 0.0));
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t n = 0; n < length; ++n) {
            for (std::size_t b = 0; b < m; ++b) {
                system[a][b] += basis[a][n] * basis[b][n];
            }
            system[a][m] += basis[a][n] * samples[n];
        }
    }
    for (std::size_t column = 0; column < m; ++column) {
        const auto pivot = std::max_element(
            system.begin() + static_cast<std::ptrdiff_t>(column), system.end(),
            [column](const auto& x, const auto& y) { return std::abs(x[column]) < std::abs(y[column]); });
        std::swap(system[column], *pivot);
        for (std::size_t row = 0; row < m; ++row) {
            const double factor = row == column ? 0.0 : system[row][column] / system[column][column];
            for (std::size_t k = column; k <= m; ++k) {
                system[row][k] -= factor * system[column][k];
            }
        }
    }
    SineFit fit;
    std::vector<double> coefficients(m);
    for (std::size_t a = 0; a < m; ++a) {
        coefficients[a] = system[a][m] / system[a][a];
    }
    for (std::size_t a = 0; a < m; a += 2) {
        fit.amplitudes.push_back(std::hypot(coefficients[a], coefficients[a + 1]));
    }
    double sum = 0;
    for (std::size_t n = 0; n < length; ++n) {
        double error = samples[n];
        for (std::size_t a = 0; a < m; ++a) {
            error -= coefficients[a] * basis[a][n];
        }
        sum += error * error;
    }
    fit.residual = std::sqrt(sum / static_cast<double>(length));
    return fit;
}

double median(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
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

std::vector<SampleRange> toneBreaks(const std::vector<float>& samples, int sampleRate,
                                    const std::vector<double>& frequenciesHz, std::size_t windowSamples) {
    std::vector<SampleRange> breaks;
    if (frequenciesHz.empty() || sampleRate <= 0 || windowSamples < 2 || samples.size() < windowSamples) {
        return breaks;
    }
    std::vector<double> omegas;
    for (const double frequency : frequenciesHz) {
        omegas.push_back(2.0 * std::numbers::pi * frequency / sampleRate);
    }
    const auto basis = sineBasis(omegas, windowSamples);
    const std::size_t hop = windowSamples / 2;
    std::vector<SineFit> fits;
    for (std::size_t start = 0; start + windowSamples <= samples.size(); start += hop) {
        fits.push_back(fitSines(samples.data() + start, basis));
    }
    std::vector<double> typical;
    for (std::size_t k = 0; k < omegas.size(); ++k) {
        std::vector<double> amplitudes;
        for (const SineFit& fit : fits) {
            amplitudes.push_back(fit.amplitudes[k]);
        }
        typical.push_back(median(std::move(amplitudes)));
    }
    const double residualLimit = *std::min_element(typical.begin(), typical.end()) / 20;
    for (std::size_t w = 0; w < fits.size(); ++w) {
        bool broken = fits[w].residual > residualLimit;
        for (std::size_t k = 0; k < typical.size(); ++k) {
            broken =
                broken || fits[w].amplitudes[k] < typical[k] / 2 || fits[w].amplitudes[k] > typical[k] * 2;
        }
        if (!broken) {
            continue;
        }
        const SampleRange window{w * hop, w * hop + windowSamples};
        if (!breaks.empty() && window.beginSample <= breaks.back().endSample) {
            breaks.back().endSample = window.endSample;
        } else {
            breaks.push_back(window);
        }
    }
    // A window is broken by a break anywhere in it: the half window at either end of a stretch
    // only touched the break.
    for (SampleRange& range : breaks) {
        range.beginSample += hop;
        range.endSample -= hop;
    }
    return breaks;
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
