#include "platform/encoding/ffmpeg/FfmpegFileRepair.h"

#include "platform/encoding/ffmpeg/FfmpegAudioEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

namespace veltrane {

namespace {

std::unexpected<PlatformError> failure(int averror, std::string_view context) {
    return std::unexpected(makeFfmpegError(averror, context));
}

std::string fileURL(const std::filesystem::path& path) {
    return "file:" + path.string();
}

// An open file descriptor, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return descriptor_; }

private:
    int descriptor_ = -1;
};

std::uint32_t readLittleEndian32(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

[[nodiscard]] bool writeLittleEndian32(int descriptor, off_t offset, std::uint64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    const std::array<std::uint8_t, 4> bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                            static_cast<std::uint8_t>(v >> 16),
                                            static_cast<std::uint8_t>(v >> 24)};
    return ::pwrite(descriptor, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
}

// Where the header's fields are, as far as the bytes on the disk tell.
struct WaveLayout {
    std::int64_t dataStart = -1;  // first byte of audio; -1 when the header is incomplete
    std::int64_t factOffset = -1; // the sample count of a "fact" chunk, when there is one
    std::uint32_t blockAlignBytes = 0;
};

// Walks the chunks "RIFF" size "WAVE" { id size data [pad] } up to the "data" chunk.
std::expected<WaveLayout, PlatformError> readWaveLayout(int descriptor, std::int64_t fileSizeBytes) {
    std::array<std::uint8_t, 12> riff{};
    const ssize_t riffRead = ::pread(descriptor, riff.data(), riff.size(), 0);
    if (riffRead < 0) {
        return failure(AVERROR(errno), "could not read the interrupted file");
    }
    if (riffRead < static_cast<ssize_t>(riff.size())) {
        return WaveLayout{}; // the header never reached the disk
    }
    if (std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        return failure(AVERROR_INVALIDDATA, "the interrupted file is not a WAV file");
    }
    WaveLayout layout;
    std::int64_t offset = 12;
    while (offset + 8 <= fileSizeBytes) {
        std::array<std::uint8_t, 8> chunk{};
        if (::pread(descriptor, chunk.data(), chunk.size(), offset) != static_cast<ssize_t>(chunk.size())) {
            return failure(AVERROR(EIO), "could not read the interrupted file");
        }
        const std::uint32_t sizeBytes = readLittleEndian32(chunk.data() + 4);
        const std::int64_t body = offset + 8;
        if (std::memcmp(chunk.data(), "data", 4) == 0) {
            if (layout.blockAlignBytes == 0) {
                return failure(AVERROR_INVALIDDATA,
                               "the interrupted WAV file has no format before its audio");
            }
            layout.dataStart = body;
            return layout;
        }
        if (std::memcmp(chunk.data(), "fmt ", 4) == 0 && body + 14 <= fileSizeBytes) {
            std::array<std::uint8_t, 2> align{};
            if (::pread(descriptor, align.data(), align.size(), body + 12) != 2) {
                return failure(AVERROR(EIO), "could not read the interrupted file");
            }
            layout.blockAlignBytes = std::uint32_t{align[0]} | std::uint32_t{align[1]} << 8;
        } else if (std::memcmp(chunk.data(), "fact", 4) == 0) {
            layout.factOffset = body;
        }
        offset = body + sizeBytes + (sizeBytes & 1U);
    }
    return layout; // the file ends inside the header
}

std::expected<RepairOutcome, PlatformError> repairWave(const std::filesystem::path& path) {
    const Descriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0) {
        return failure(AVERROR(errno), "could not open the interrupted file");
    }
    const off_t fileSizeBytes = ::lseek(file.get(), 0, SEEK_END);
    if (fileSizeBytes < 0) {
        return failure(AVERROR(errno), "could not read the interrupted file");
    }
    const auto layout = readWaveLayout(file.get(), fileSizeBytes);
    if (!layout) {
        return std::unexpected(layout.error());
    }
    const std::int64_t audioBytes =
        layout->dataStart < 0
            ? 0
            : (fileSizeBytes - layout->dataStart) / layout->blockAlignBytes * layout->blockAlignBytes;
    if (audioBytes <= 0) {
        return RepairOutcome::holdsNoAudio;
    }
    const std::int64_t totalBytes = layout->dataStart + audioBytes;
    if (totalBytes - 8 > std::int64_t{UINT32_MAX}) {
        return failure(AVERROR_INVALIDDATA, "the interrupted WAV file is too large to repair");
    }
    bool written = ::ftruncate(file.get(), totalBytes) == 0 &&
                   writeLittleEndian32(file.get(), 4, totalBytes - 8) &&
                   writeLittleEndian32(file.get(), layout->dataStart - 4, audioBytes);
    if (written && layout->factOffset >= 0) {
        written = writeLittleEndian32(file.get(), layout->factOffset, audioBytes / layout->blockAlignBytes);
    }
    if (!written || ::fdatasync(file.get()) != 0) {
        return failure(AVERROR(errno), "could not repair the interrupted file");
    }
    return RepairOutcome::repaired;
}

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// A recovery copy shorter than this holds at most its own header.
constexpr std::uintmax_t kHeaderOnlyBytes = 4096;

// Copies every whole packet of the fragmented copy into a normal M4A at `target`; returns how
// many there were.
std::expected<std::int64_t, PlatformError> remuxRecoveryCopy(const std::filesystem::path& copy,
                                                             const std::filesystem::path& target) {
    std::error_code sizeError;
    const std::uintmax_t copySizeBytes = std::filesystem::file_size(copy, sizeError);
    AVFormatContext* rawInput = nullptr;
    if (const int result = avformat_open_input(&rawInput, fileURL(copy).c_str(), nullptr, nullptr);
        result < 0) {
        if (!sizeError && copySizeBytes < kHeaderOnlyBytes) {
            return 0; // cut off inside its header: no audio ever reached it
        }
        return failure(result, "could not read the recovery copy");
    }
    const std::unique_ptr<AVFormatContext, InputDeleter> input(rawInput);
    const int audioIndex = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audioIndex < 0) {
        if (!sizeError && copySizeBytes < kHeaderOnlyBytes) {
            return 0;
        }
        return failure(audioIndex, "the recovery copy holds no audio stream");
    }
    const AVStream* inputStream = input->streams[audioIndex];

    AVFormatContext* rawOutput = nullptr;
    int result = avformat_alloc_output_context2(&rawOutput, nullptr, "ipod", fileURL(target).c_str());
    if (result < 0 || rawOutput == nullptr) {
        return failure(result < 0 ? result : AVERROR_MUXER_NOT_FOUND, "could not set up the repaired file");
    }
    const std::unique_ptr<AVFormatContext, OutputDeleter> output(rawOutput);
    AVStream* outputStream = avformat_new_stream(output.get(), nullptr);
    const std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (outputStream == nullptr || packet == nullptr) {
        return failure(AVERROR(ENOMEM), "could not set up the repaired file");
    }
    result = avcodec_parameters_copy(outputStream->codecpar, inputStream->codecpar);
    if (result < 0) {
        return failure(result, "could not set up the repaired file");
    }
    outputStream->codecpar->codec_tag = 0;
    outputStream->time_base = inputStream->time_base;
    result = avio_open(&output->pb, fileURL(target).c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        return failure(result, "could not create the repaired file");
    }
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", inputStream->codecpar->sample_rate, 0);
    result = avformat_write_header(output.get(), &options);
    av_dict_free(&options);
    if (result < 0) {
        return failure(result, "could not write the repaired file");
    }
    std::int64_t packets = 0;
    // A fragment cut off by the crash ends the audio: its packets point past the end of the
    // file or come back marked as damaged.
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        const bool whole = (packet->flags & AV_PKT_FLAG_CORRUPT) == 0 &&
                           (packet->pos < 0 || sizeError ||
                            static_cast<std::uintmax_t>(packet->pos + packet->size) <= copySizeBytes);
        if (packet->stream_index != audioIndex) {
            av_packet_unref(packet.get());
            continue;
        }
        if (!whole) {
            av_packet_unref(packet.get());
            break;
        }
        av_packet_rescale_ts(packet.get(), inputStream->time_base, outputStream->time_base);
        packet->stream_index = outputStream->index;
        packet->pos = -1;
        result = av_interleaved_write_frame(output.get(), packet.get());
        if (result < 0) {
            return failure(result, "could not write the repaired file");
        }
        ++packets;
    }
    if (packets == 0) {
        return 0;
    }
    result = av_write_trailer(output.get());
    if (result >= 0) {
        result = avio_closep(&output->pb);
    }
    if (result < 0) {
        return failure(result, "could not finish the repaired file");
    }
    const Descriptor written(::open(target.c_str(), O_RDONLY | O_CLOEXEC));
    if (written.get() < 0 || ::fdatasync(written.get()) != 0) {
        return failure(AVERROR(errno), "could not sync the repaired file");
    }
    return packets;
}

std::expected<RepairOutcome, PlatformError> repairM4a(const std::filesystem::path& path) {
    const std::filesystem::path copy = recoveryCopyPath(path);
    std::error_code error;
    if (!std::filesystem::exists(copy, error)) {
        // Without its copy the file cannot be read; it is empty only when it holds no more
        // than the header written at its start.
        const std::uintmax_t sizeBytes = std::filesystem::file_size(path, error);
        if (!error && sizeBytes < kHeaderOnlyBytes) {
            std::filesystem::remove(path, error);
            return RepairOutcome::holdsNoAudio;
        }
        return failure(AVERROR(ENOENT), "the interrupted M4A file has no recovery copy");
    }
    std::filesystem::path repaired = path;
    repaired += ".repaired";
    const auto packets = remuxRecoveryCopy(copy, repaired);
    if (!packets || *packets == 0) {
        std::filesystem::remove(repaired, error);
        if (!packets) {
            return std::unexpected(packets.error());
        }
        std::filesystem::remove(copy, error);
        std::filesystem::remove(path, error);
        return RepairOutcome::holdsNoAudio;
    }
    std::filesystem::rename(repaired, path, error);
    if (error) {
        std::filesystem::remove(repaired, error);
        return failure(AVERROR(EIO), "could not put the repaired file in place");
    }
    std::filesystem::remove(copy, error);
    return RepairOutcome::repaired;
}

} // namespace

std::expected<RepairOutcome, PlatformError> repairInterruptedFile(const std::filesystem::path& path,
                                                                  MediaFileType fileType) {
    if (fileType == MediaFileType::appleM4A) {
        return repairM4a(path);
    }
    auto repaired = repairWave(path);
    if (repaired && *repaired == RepairOutcome::holdsNoAudio) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return repaired;
}

} // namespace veltrane
