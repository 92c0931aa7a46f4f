#include "platform/encoding/DecodedAudioFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <memory>

namespace veltrane::test {

namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

double seconds(std::int64_t value, AVRational timeBase) {
    return value == AV_NOPTS_VALUE ? 0.0 : static_cast<double>(value) * av_q2d(timeBase);
}

} // namespace

std::expected<DecodedAudioFile, std::string> DecodedAudioFile::read(const std::filesystem::path& path) {
    AVFormatContext* rawFormat = nullptr;
    if (avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr) < 0) {
        return std::unexpected("cannot open " + path.string());
    }
    std::unique_ptr<AVFormatContext, InputCloser> format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0) {
        return std::unexpected("no stream info");
    }
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0) {
        return std::unexpected("no audio stream");
    }
    const AVStream* stream = format->streams[streamIndex];
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, CodecFreer> codec(avcodec_alloc_context3(decoder));
    if (decoder == nullptr || codec == nullptr ||
        avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0 ||
        avcodec_open2(codec.get(), decoder, nullptr) < 0) {
        return std::unexpected("cannot open the decoder");
    }

    DecodedAudioFile result;
    result.codecName = avcodec_get_name(stream->codecpar->codec_id);
    result.sampleRateHz = stream->codecpar->sample_rate;
    result.channelCount = stream->codecpar->ch_layout.nb_channels;
    result.streamDurationSeconds = seconds(stream->duration, stream->time_base);
    result.startTimeSeconds = seconds(stream->start_time, stream->time_base);

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    const auto drain = [&]() {
        while (avcodec_receive_frame(codec.get(), frame.get()) == 0) {
            result.decodedFrames += frame->nb_samples;
            if (frame->format == AV_SAMPLE_FMT_S16) {
                const auto* samples = reinterpret_cast<const std::int16_t*>(frame->data[0]);
                result.int16Samples.insert(result.int16Samples.end(), samples,
                                           samples + static_cast<std::ptrdiff_t>(frame->nb_samples) *
                                                         result.channelCount);
            }
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex) {
            avcodec_send_packet(codec.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    drain();
    return result;
}

} // namespace veltrane::test
