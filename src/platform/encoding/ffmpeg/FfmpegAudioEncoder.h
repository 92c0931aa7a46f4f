#pragma once

#include "platform/core/PlatformError.h"
#include "platform/encoding/AudioOutputSettings.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

namespace veltrane {

// The error domain of everything the FFmpeg writer reports.
inline constexpr std::string_view kFfmpegErrorDomain = "FFmpeg";

// A platform error for an FFmpeg failure: code = the AVERROR value, description = what was
// being done ("could not open output file") followed by FFmpeg's own text for the code.
[[nodiscard]] PlatformError makeFfmpegError(int averror, std::string_view context);

// Keeps FFmpeg's own console chatter off the process's output: the encoder's statistics when a
// file closes, and the container's warning that a hidden partial file lacks the .m4a ending.
// Errors still reach standard error. Process-wide: call once from main.
void limitFfmpegLoggingToErrors();

// What one writer encodes into: the FFmpeg muxer and encoder and the audio parameters,
// resolved from a container type and the input's output settings.
struct FfmpegEncoderConfig {
    std::string muxerName;
    std::string encoderName;
    int sampleRateHz = 0;
    int channelCount = 0;
    std::int64_t bitRateBitsPerSecond = 0; // 0 for PCM

    // The configuration for `settings` in a `fileType` container, or why it cannot be honoured:
    // WAV takes 16-bit little-endian interleaved integer PCM, M4A takes AAC with a bit rate;
    // one or two channels at a rate the encoder supports.
    [[nodiscard]] static std::expected<FfmpegEncoderConfig, std::string>
    resolve(MediaFileType fileType, const AudioOutputSettings& settings);

    // True when `buffer` holds interleaved 32-bit float or 16-bit integer native-endian PCM at
    // this configuration's rate and channel count, with as many bytes as its frame count needs.
    [[nodiscard]] bool acceptsBuffer(const SampleBuffer& buffer) const;
};

// One output file and its encoder: converts interleaved PCM buffers to the encoder's sample
// format, encodes them one after another from file time 0 and muxes the packets. Not thread
// safe; after open() it is used by one thread at a time.
class FfmpegAudioEncoder {
public:
    FfmpegAudioEncoder();
    ~FfmpegAudioEncoder();
    FfmpegAudioEncoder(const FfmpegAudioEncoder&) = delete;
    FfmpegAudioEncoder& operator=(const FfmpegAudioEncoder&) = delete;

    // Creates the file, opens the encoder and writes the container header. On failure nothing
    // stays open and a file this call created is removed again.
    [[nodiscard]] std::expected<void, PlatformError> open(const std::filesystem::path& path,
                                                          const FfmpegEncoderConfig& config);
    // Encodes `buffer` right after the audio encoded before it. The buffer must be one that
    // the configuration accepts (FfmpegEncoderConfig::acceptsBuffer).
    [[nodiscard]] std::expected<void, PlatformError> encode(const SampleBuffer& buffer);
    // Encodes what is still pending, writes the trailer and closes the file.
    [[nodiscard]] std::expected<void, PlatformError> finish();
    // Puts everything encoded so far on the disk, where a crash of the process cannot take it:
    // the muxers' buffers are written out, the recovery copy (M4A) ends its fragment, and both
    // files are synced. Fails when the disk refuses the data.
    [[nodiscard]] std::expected<void, PlatformError> flushToDisk();
    // Closes the file as it is, without a trailer, and releases the encoder. The recovery copy
    // is removed: it only matters when the process dies before getting here.
    void close();

    [[nodiscard]] bool isOpen() const { return format_ != nullptr; }
    [[nodiscard]] std::int64_t framesSubmitted() const { return nextPts_; }

private:
    struct FormatContextDeleter {
        void operator()(AVFormatContext* context) const;
    };
    struct CodecContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };
    struct FifoDeleter {
        void operator()(AVAudioFifo* fifo) const;
    };
    struct SwrDeleter {
        void operator()(SwrContext* context) const;
    };

    [[nodiscard]] std::expected<void, PlatformError> openRecoveryCopy(const std::filesystem::path& path);
    [[nodiscard]] std::expected<void, PlatformError> openEncoderAndFile(const std::filesystem::path& path,
                                                                        const FfmpegEncoderConfig& config,
                                                                        bool& createdFile);
    [[nodiscard]] std::expected<SwrContext*, PlatformError> converterFor(bool floatInput);
    // Makes `frame` a writable buffer of the encoder's format holding `frameCount` frames,
    // reusing its memory when it is large enough and nobody else references it.
    [[nodiscard]] std::expected<void, PlatformError> prepareFrame(AVFrame& frame, int& capacityFrames,
                                                                  int frameCount);
    [[nodiscard]] std::expected<void, PlatformError> encodeSlice(SwrContext& converter,
                                                                 const std::uint8_t* data, int frameCount);
    [[nodiscard]] std::expected<void, PlatformError> sendFifoFrame(int frameCount);
    // Sends `frame` (nullptr flushes) and writes every packet the encoder has ready.
    [[nodiscard]] std::expected<void, PlatformError> sendAndWrite(AVFrame* frame);

    std::unique_ptr<AVFormatContext, FormatContextDeleter> format_;
    std::unique_ptr<AVCodecContext, CodecContextDeleter> codec_;
    AVStream* stream_ = nullptr;
    std::unique_ptr<AVFrame, FrameDeleter> frame_;
    int frameCapacityFrames_ = 0;
    // Converted samples on their way into the FIFO, for encoders with a fixed frame size.
    std::unique_ptr<AVFrame, FrameDeleter> staging_;
    int stagingCapacityFrames_ = 0;
    std::unique_ptr<AVAudioFifo, FifoDeleter> fifo_;
    int fixedFrameSize_ = 0; // 0 when the encoder takes frames of any length
    std::unique_ptr<AVPacket, PacketDeleter> packet_;
    std::unique_ptr<SwrContext, SwrDeleter> floatConverter_;
    std::unique_ptr<SwrContext, SwrDeleter> int16Converter_;
    std::int64_t nextPts_ = 0;

    // M4A only: the same packets in a fragmented file, readable up to its last fragment.
    std::unique_ptr<AVFormatContext, FormatContextDeleter> recoveryCopy_;
    AVStream* recoveryStream_ = nullptr;
    std::unique_ptr<AVPacket, PacketDeleter> recoveryPacket_;
    std::filesystem::path recoveryCopyPath_;
    // Read-only descriptors of the files, kept for syncing them (-1 when not open).
    int fileDescriptor_ = -1;
    int recoveryDescriptor_ = -1;
};

} // namespace veltrane
