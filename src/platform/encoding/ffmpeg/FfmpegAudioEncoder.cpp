#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"

#include "platform/media/SampleBuffer.h"

#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <string>
#include <system_error>

namespace veltrane {

PlatformError makeFfmpegError(int averror, std::string_view context) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(averror, text.data(), text.size()) < 0) {
        text.fill('\0');
    }
    std::string description(context);
    if (text[0] != '\0') {
        description += ": ";
        description += text.data();
    }
    return PlatformError{std::string(kFfmpegErrorDomain), averror, std::move(description), nullptr};
}

void limitFfmpegLoggingToErrors() {
    av_log_set_level(AV_LOG_ERROR);
}

namespace {

constexpr int kMaxChannelCount = 2;
constexpr double kMaxSampleRateHz = 384000.0;

bool isUnsetOr(const std::optional<bool>& flag, bool expected) {
    return !flag || *flag == expected;
}

bool encoderSupportsRate(const AVCodec& codec, int sampleRateHz) {
    if (codec.supported_samplerates == nullptr) {
        return true;
    }
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (*rate == sampleRateHz) {
            return true;
        }
    }
    return false;
}

} // namespace

std::expected<FfmpegEncoderConfig, std::string>
FfmpegEncoderConfig::resolve(MediaFileType fileType, const AudioOutputSettings& settings) {
    FfmpegEncoderConfig config;
    if (settings.numberOfChannels < 1 || settings.numberOfChannels > kMaxChannelCount) {
        return std::unexpected("unsupported channel count " + std::to_string(settings.numberOfChannels));
    }
    if (!(settings.sampleRate > 0.0 && settings.sampleRate <= kMaxSampleRateHz) ||
        std::floor(settings.sampleRate) != settings.sampleRate) {
        return std::unexpected("unsupported sample rate " + std::to_string(settings.sampleRate));
    }
    config.channelCount = settings.numberOfChannels;
    config.sampleRateHz = static_cast<int>(settings.sampleRate);

    switch (fileType) {
    case MediaFileType::wave:
        if (settings.formatID != kAudioFormatLinearPCM) {
            return std::unexpected("WAV files take linear PCM only");
        }
        if (settings.linearPCMBitDepth != 16 || !isUnsetOr(settings.linearPCMIsFloat, false) ||
            !isUnsetOr(settings.linearPCMIsBigEndian, false) ||
            !isUnsetOr(settings.linearPCMIsNonInterleaved, false)) {
            return std::unexpected("WAV files take 16-bit little-endian interleaved integer PCM only");
        }
        config.muxerName = "wav";
        config.encoderName = "pcm_s16le";
        break;
    case MediaFileType::appleM4A:
        if (settings.formatID != kAudioFormatMPEG4AAC) {
            return std::unexpected("M4A files take AAC only");
        }
        if (!settings.encoderBitRate || *settings.encoderBitRate <= 0) {
            return std::unexpected("AAC needs a positive encoder bit rate");
        }
        config.muxerName = "ipod";
        config.encoderName = "aac";
        config.bitRateBitsPerSecond = *settings.encoderBitRate;
        break;
    default:
        return std::unexpected("unknown container type");
    }

    const AVCodec* codec = avcodec_find_encoder_by_name(config.encoderName.c_str());
    if (codec == nullptr) {
        return std::unexpected("FFmpeg has no " + config.encoderName + " encoder");
    }
    if (!encoderSupportsRate(*codec, config.sampleRateHz)) {
        return std::unexpected(config.encoderName + " does not support " +
                               std::to_string(config.sampleRateHz) + " Hz");
    }
    return config;
}

bool FfmpegEncoderConfig::acceptsBuffer(const SampleBuffer& buffer) const {
    const auto& format = buffer.format();
    if (!format || format->formatID != kAudioFormatLinearPCM || format->isNonInterleaved() ||
        (format->formatFlags & kAudioFormatFlagIsBigEndian) != 0) {
        return false;
    }
    if (format->sampleRate != static_cast<double>(sampleRateHz) ||
        format->channelsPerFrame != static_cast<std::uint32_t>(channelCount)) {
        return false;
    }
    const std::uint32_t bitsPerSample = format->isFloat() ? 32 : 16;
    if (format->bitsPerChannel != bitsPerSample ||
        format->bytesPerFrame != bitsPerSample / 8 * format->channelsPerFrame) {
        return false;
    }
    return buffer.numSamples() >= 0 &&
           static_cast<std::uint64_t>(buffer.numSamples()) <= buffer.data().size() / format->bytesPerFrame;
}

namespace {

// Buffers are converted in slices of at most this many frames, which bounds the scratch
// memory and keeps frame counts within FFmpeg's int parameters.
constexpr std::int64_t kMaxSliceFrames = 1 << 16;

std::unexpected<PlatformError> failure(int averror, std::string_view context) {
    return std::unexpected(makeFfmpegError(averror, context));
}

// The "file:" prefix keeps FFmpeg from reading a protocol ("pipe:", "http:", ...) out of the
// file name.
std::string fileURL(const std::filesystem::path& path) {
    std::error_code pathError;
    const auto absolutePath = std::filesystem::absolute(path, pathError);
    return "file:" + (pathError ? path : absolutePath).string();
}

// A descriptor that can sync the file (Linux syncs through read-only descriptors too); -1 for
// what is not a regular file (a pipe has nothing to sync).
int openForSyncing(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return -1;
    }
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

} // namespace

void FfmpegAudioEncoder::FormatContextDeleter::operator()(AVFormatContext* context) const {
    if (context->pb != nullptr && (context->oformat->flags & AVFMT_NOFILE) == 0) {
        avio_closep(&context->pb);
    }
    avformat_free_context(context);
}

void FfmpegAudioEncoder::CodecContextDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}

void FfmpegAudioEncoder::FrameDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}

void FfmpegAudioEncoder::PacketDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}

void FfmpegAudioEncoder::FifoDeleter::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}

void FfmpegAudioEncoder::SwrDeleter::operator()(SwrContext* context) const {
    swr_free(&context);
}

FfmpegAudioEncoder::FfmpegAudioEncoder() = default;

FfmpegAudioEncoder::~FfmpegAudioEncoder() {
    close();
}

std::expected<void, PlatformError> FfmpegAudioEncoder::open(const std::filesystem::path& path,
                                                            const FfmpegEncoderConfig& config) {
    close();
    bool createdFile = false;
    auto opened = openEncoderAndFile(path, config, createdFile);
    if (!opened) {
        close();
        if (createdFile) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    }
    return opened;
}

std::expected<void, PlatformError> FfmpegAudioEncoder::openEncoderAndFile(const std::filesystem::path& path,
                                                                          const FfmpegEncoderConfig& config,
                                                                          bool& createdFile) {
    const std::string url = fileURL(path);

    AVFormatContext* rawFormat = nullptr;
    int result = avformat_alloc_output_context2(&rawFormat, nullptr, config.muxerName.c_str(), url.c_str());
    if (result < 0 || rawFormat == nullptr) {
        return failure(result < 0 ? result : AVERROR_MUXER_NOT_FOUND,
                       "could not set up the " + config.muxerName + " muxer");
    }
    format_.reset(rawFormat);

    const AVCodec* codec = avcodec_find_encoder_by_name(config.encoderName.c_str());
    if (codec == nullptr) {
        return failure(AVERROR_ENCODER_NOT_FOUND, "no " + config.encoderName + " encoder");
    }
    stream_ = avformat_new_stream(format_.get(), nullptr);
    codec_.reset(avcodec_alloc_context3(codec));
    if (stream_ == nullptr || codec_ == nullptr) {
        return failure(AVERROR(ENOMEM), "could not set up the " + config.encoderName + " encoder");
    }
    codec_->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    codec_->sample_rate = config.sampleRateHz;
    av_channel_layout_default(&codec_->ch_layout, config.channelCount);
    if (config.bitRateBitsPerSecond > 0) {
        codec_->bit_rate = config.bitRateBitsPerSecond;
    }
    codec_->time_base = AVRational{1, config.sampleRateHz};
    if ((format_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    result = avcodec_open2(codec_.get(), codec, nullptr);
    if (result < 0) {
        return failure(result, "could not open the " + config.encoderName + " encoder");
    }
    result = avcodec_parameters_from_context(stream_->codecpar, codec_.get());
    if (result < 0) {
        return failure(result, "could not set up the audio stream");
    }
    stream_->time_base = codec_->time_base;

    std::error_code existsError;
    const bool existedBefore = std::filesystem::exists(path, existsError);
    result = avio_open(&format_->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        return failure(result, "could not open output file");
    }
    createdFile = !existedBefore;
    AVDictionary* muxerOptions = nullptr;
    if (config.muxerName == "ipod") {
        // MP4 edit lists count in the movie timescale (milliseconds by default), which would
        // cut the reported duration to whole milliseconds; counting in samples keeps it exact.
        av_dict_set_int(&muxerOptions, "movie_timescale", config.sampleRateHz, 0);
    }
    result = avformat_write_header(format_.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (result < 0) {
        return failure(result, "could not write the file header");
    }

    fileDescriptor_ = openForSyncing(path);
    if (config.muxerName == "ipod") {
        if (auto copy = openRecoveryCopy(path); !copy) {
            return copy;
        }
    }

    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (frame_ == nullptr || packet_ == nullptr) {
        return failure(AVERROR(ENOMEM), "could not allocate encoder buffers");
    }
    const bool takesAnyFrameSize = (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    if (!takesAnyFrameSize && codec_->frame_size > 0) {
        fixedFrameSize_ = codec_->frame_size;
        staging_.reset(av_frame_alloc());
        fifo_.reset(av_audio_fifo_alloc(codec_->sample_fmt, config.channelCount, 4 * fixedFrameSize_));
        if (staging_ == nullptr || fifo_ == nullptr) {
            return failure(AVERROR(ENOMEM), "could not allocate encoder buffers");
        }
    }
    return {};
}

std::expected<void, PlatformError> FfmpegAudioEncoder::openRecoveryCopy(const std::filesystem::path& path) {
    recoveryCopyPath_ = recoveryCopyPath(path);
    const std::string url = fileURL(recoveryCopyPath_);
    AVFormatContext* raw = nullptr;
    int result = avformat_alloc_output_context2(&raw, nullptr, "ipod", url.c_str());
    if (result < 0 || raw == nullptr) {
        return failure(result < 0 ? result : AVERROR_MUXER_NOT_FOUND, "could not set up the recovery copy");
    }
    recoveryCopy_.reset(raw);
    recoveryStream_ = avformat_new_stream(raw, nullptr);
    recoveryPacket_.reset(av_packet_alloc());
    if (recoveryStream_ == nullptr || recoveryPacket_ == nullptr) {
        return failure(AVERROR(ENOMEM), "could not set up the recovery copy");
    }
    result = avcodec_parameters_from_context(recoveryStream_->codecpar, codec_.get());
    if (result < 0) {
        return failure(result, "could not set up the recovery copy");
    }
    recoveryStream_->time_base = codec_->time_base;
    result = avio_open(&raw->pb, url.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        recoveryCopyPath_.clear(); // not ours to remove
        return failure(result, "could not open the recovery copy");
    }
    // Fragments are cut by flushToDisk() only; the movie header comes first and is empty, so
    // every fragment on the disk can be read without the end of the file.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_custom+empty_moov+default_base_moof", 0);
    result = avformat_write_header(raw, &options);
    av_dict_free(&options);
    if (result < 0) {
        return failure(result, "could not write the recovery copy's header");
    }
    recoveryDescriptor_ = openForSyncing(recoveryCopyPath_);
    return {};
}

void FfmpegAudioEncoder::close() {
    floatConverter_.reset();
    int16Converter_.reset();
    fifo_.reset();
    staging_.reset();
    frame_.reset();
    packet_.reset();
    codec_.reset();
    format_.reset(); // closes the file without a trailer when it is still open
    stream_ = nullptr;
    recoveryCopy_.reset();
    recoveryStream_ = nullptr;
    recoveryPacket_.reset();
    closeDescriptor(fileDescriptor_);
    closeDescriptor(recoveryDescriptor_);
    if (!recoveryCopyPath_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(recoveryCopyPath_, ignored);
        recoveryCopyPath_.clear();
    }
    frameCapacityFrames_ = 0;
    stagingCapacityFrames_ = 0;
    fixedFrameSize_ = 0;
}

std::expected<SwrContext*, PlatformError> FfmpegAudioEncoder::converterFor(bool floatInput) {
    auto& converter = floatInput ? floatConverter_ : int16Converter_;
    if (converter) {
        return converter.get();
    }
    // Same rate and layout on both sides: a pure sample-format conversion (and interleaved to
    // planar for AAC), done with FFmpeg's vectorised converters.
    SwrContext* raw = nullptr;
    int result = swr_alloc_set_opts2(&raw, &codec_->ch_layout, codec_->sample_fmt, codec_->sample_rate,
                                     &codec_->ch_layout, floatInput ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S16,
                                     codec_->sample_rate, 0, nullptr);
    std::unique_ptr<SwrContext, SwrDeleter> created(raw);
    if (result >= 0) {
        result = swr_init(created.get());
    }
    if (result < 0) {
        return failure(result, "could not set up the sample format converter");
    }
    converter = std::move(created);
    return converter.get();
}

std::expected<void, PlatformError> FfmpegAudioEncoder::prepareFrame(AVFrame& frame, int& capacityFrames,
                                                                    int frameCount) {
    if (capacityFrames >= frameCount && av_frame_is_writable(&frame) != 0) {
        frame.nb_samples = frameCount;
        return {};
    }
    av_frame_unref(&frame);
    frame.format = codec_->sample_fmt;
    frame.sample_rate = codec_->sample_rate;
    int result = av_channel_layout_copy(&frame.ch_layout, &codec_->ch_layout);
    frame.nb_samples = std::max(frameCount, std::max(capacityFrames, fixedFrameSize_));
    if (result >= 0) {
        result = av_frame_get_buffer(&frame, 0);
    }
    if (result < 0) {
        capacityFrames = 0;
        return failure(result, "could not allocate an audio frame");
    }
    capacityFrames = frame.nb_samples;
    frame.nb_samples = frameCount;
    return {};
}

std::expected<void, PlatformError> FfmpegAudioEncoder::encode(const SampleBuffer& buffer) {
    if (!isOpen()) {
        return failure(AVERROR(EINVAL), "the file is not open");
    }
    const auto& format = *buffer.format();
    auto converter = converterFor(format.isFloat());
    if (!converter) {
        return std::unexpected(converter.error());
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(buffer.data().data());
    for (std::int64_t done = 0; done < buffer.numSamples();) {
        const auto sliceFrames = static_cast<int>(std::min(kMaxSliceFrames, buffer.numSamples() - done));
        auto encoded = encodeSlice(**converter, data + done * format.bytesPerFrame, sliceFrames);
        if (!encoded) {
            return encoded;
        }
        done += sliceFrames;
    }
    return {};
}

std::expected<void, PlatformError> FfmpegAudioEncoder::encodeSlice(SwrContext& converter,
                                                                   const std::uint8_t* data, int frameCount) {
    const std::uint8_t* input[] = {data};
    AVFrame& target = fifo_ ? *staging_ : *frame_;
    int& capacity = fifo_ ? stagingCapacityFrames_ : frameCapacityFrames_;
    if (auto prepared = prepareFrame(target, capacity, frameCount); !prepared) {
        return prepared;
    }
    const int converted = swr_convert(&converter, target.data, frameCount, input, frameCount);
    if (converted != frameCount) {
        return failure(converted < 0 ? converted : AVERROR_BUG, "could not convert the audio samples");
    }
    if (!fifo_) {
        return sendAndWrite(frame_.get());
    }
    if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(target.data), frameCount) != frameCount) {
        return failure(AVERROR(ENOMEM), "could not queue the audio samples");
    }
    while (av_audio_fifo_size(fifo_.get()) >= fixedFrameSize_) {
        if (auto sent = sendFifoFrame(fixedFrameSize_); !sent) {
            return sent;
        }
    }
    return {};
}

std::expected<void, PlatformError> FfmpegAudioEncoder::sendFifoFrame(int frameCount) {
    if (auto prepared = prepareFrame(*frame_, frameCapacityFrames_, frameCount); !prepared) {
        return prepared;
    }
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frameCount) != frameCount) {
        return failure(AVERROR_BUG, "could not take the audio samples from the queue");
    }
    return sendAndWrite(frame_.get());
}

std::expected<void, PlatformError> FfmpegAudioEncoder::sendAndWrite(AVFrame* frame) {
    if (frame != nullptr) {
        frame->pts = nextPts_;
        nextPts_ += frame->nb_samples;
    }
    int result = avcodec_send_frame(codec_.get(), frame);
    if (result < 0) {
        return failure(result, "could not encode the audio");
    }
    while ((result = avcodec_receive_packet(codec_.get(), packet_.get())) == 0) {
        if (recoveryCopy_) {
            // Written as it comes (one stream needs no interleaving); the muxer keeps the
            // packets of the open fragment in memory until flushToDisk() cuts it.
            result = av_packet_ref(recoveryPacket_.get(), packet_.get());
            if (result >= 0) {
                av_packet_rescale_ts(recoveryPacket_.get(), codec_->time_base, recoveryStream_->time_base);
                recoveryPacket_->stream_index = recoveryStream_->index;
                result = av_write_frame(recoveryCopy_.get(), recoveryPacket_.get());
                av_packet_unref(recoveryPacket_.get());
            }
            if (result < 0) {
                av_packet_unref(packet_.get());
                return failure(result, "could not write the recovery copy");
            }
        }
        av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        result = av_interleaved_write_frame(format_.get(), packet_.get());
        if (result < 0) {
            return failure(result, "could not write the audio");
        }
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        return failure(result, "could not encode the audio");
    }
    return {};
}

std::expected<void, PlatformError> FfmpegAudioEncoder::flushToDisk() {
    if (!isOpen()) {
        return failure(AVERROR(EINVAL), "the file is not open");
    }
    if (recoveryCopy_) {
        if (const int result = av_write_frame(recoveryCopy_.get(), nullptr); result < 0) {
            return failure(result, "could not write the recovery copy");
        }
        avio_flush(recoveryCopy_->pb);
        if (recoveryCopy_->pb->error < 0) {
            return failure(recoveryCopy_->pb->error, "could not write the recovery copy");
        }
    }
    avio_flush(format_->pb);
    if (format_->pb->error < 0) {
        return failure(format_->pb->error, "could not write the audio");
    }
    for (const int descriptor : {fileDescriptor_, recoveryDescriptor_}) {
        if (descriptor >= 0 && ::fdatasync(descriptor) != 0) {
            return failure(AVERROR(errno), "could not sync the audio to the disk");
        }
    }
    return {};
}

std::expected<void, PlatformError> FfmpegAudioEncoder::finish() {
    if (!isOpen()) {
        return failure(AVERROR(EINVAL), "the file is not open");
    }
    auto finished = [this]() -> std::expected<void, PlatformError> {
        if (fifo_) {
            // The last frame may be short; the encoder accounts for it in the packet durations.
            if (const int rest = av_audio_fifo_size(fifo_.get()); rest > 0) {
                if (auto sent = sendFifoFrame(rest); !sent) {
                    return sent;
                }
            }
        }
        if (auto flushed = sendAndWrite(nullptr); !flushed) {
            return flushed;
        }
        if (const int result = av_write_trailer(format_.get()); result < 0) {
            return failure(result, "could not finish the file");
        }
        if (const int result = avio_closep(&format_->pb); result < 0) {
            return failure(result, "could not close output file");
        }
        // A finished chunk outlives a power cut as well.
        if (fileDescriptor_ >= 0 && ::fdatasync(fileDescriptor_) != 0) {
            return failure(AVERROR(errno), "could not sync the file to the disk");
        }
        return {};
    }();
    close();
    return finished;
}

} // namespace veltrane
