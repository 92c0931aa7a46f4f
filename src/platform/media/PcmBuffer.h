#pragma once

#include "platform/media/SampleBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace veltrane {

// The sample types a PCM buffer can hold.
enum class PcmCommonFormat { float32, int16, int32 };

// A buffer of uncompressed linear PCM audio in one format: a fixed frame capacity, a frame
// length (how many of those frames hold audio) and one plane per channel (non-interleaved)
// or a single plane holding all channels frame by frame (interleaved).
//
// Buffers are shared as std::shared_ptr so that a buffer can be handed on unchanged and
// recognised as the same object.
class PcmBuffer {
public:
    // What the samples of a buffer are: sample type, rate, channel count and layout.
    struct Format {
        PcmCommonFormat commonFormat = PcmCommonFormat::float32;
        double sampleRateHz = 0;
        std::uint32_t channelCount = 0;
        bool interleaved = true;

        // Rate above 0 and finite, at least one channel.
        [[nodiscard]] bool isValid() const;
        [[nodiscard]] std::uint32_t bytesPerSample() const;
        // 1 when interleaved, otherwise one plane per channel.
        [[nodiscard]] std::uint32_t planeCount() const;
        // Bytes one frame takes in one plane.
        [[nodiscard]] std::uint32_t bytesPerFramePerPlane() const;

        // The linear PCM stream description of this format: packed, native (little) endian,
        // flags float (9) or signed integer (12), plus non-interleaved (32) when not interleaved.
        [[nodiscard]] StreamDescription streamDescription() const;
        // The format of linear PCM described by `description`, or nothing when it is not
        // packed little-endian 32-bit float, 16-bit or 32-bit signed integer PCM with a valid
        // rate and channel count.
        [[nodiscard]] static std::optional<Format>
        fromStreamDescription(const StreamDescription& description);

        // Readable form naming channels, rate, sample type and layout,
        // e.g. "<2 ch, 44100 Hz, Int16, interleaved>".
        [[nodiscard]] std::string description() const;

        friend bool operator==(const Format&, const Format&) = default;
    };

    PcmBuffer(const PcmBuffer&) = delete;
    PcmBuffer& operator=(const PcmBuffer&) = delete;

    // An empty buffer (frame length 0) that owns room for `frameCapacityFrames` frames; nothing
    // when the format is invalid or the capacity is 0.
    [[nodiscard]] static std::shared_ptr<PcmBuffer> make(const Format& format,
                                                         std::uint32_t frameCapacityFrames);

    // A read-only buffer over `bytes` without copying them: planes follow one another, each
    // holding the same number of whole frames; the frame length and capacity are the frames
    // the bytes hold. `bytes` must outlive the buffer. Nothing when the format is invalid or
    // the bytes hold no whole frame.
    [[nodiscard]] static std::unique_ptr<const PcmBuffer> borrowing(const Format& format,
                                                                    std::span<const std::byte> bytes);

    [[nodiscard]] const Format& format() const { return format_; }
    [[nodiscard]] std::uint32_t frameCapacity() const { return frameCapacityFrames_; }
    [[nodiscard]] std::uint32_t frameLength() const { return frameLengthFrames_; }
    // Sets how many frames hold audio, at most the capacity (larger values are cut to it).
    void setFrameLength(std::uint32_t frameLengthFrames);

    // Raw bytes of one plane (capacity × bytes per frame per plane); nullptr for a plane the
    // format does not have. The writable form is nullptr for a borrowed buffer.
    [[nodiscard]] const std::byte* planeData(std::uint32_t plane) const;
    [[nodiscard]] std::byte* mutablePlaneData(std::uint32_t plane);

    // Typed samples of one plane: channel `plane` of a non-interleaved buffer, or all channels
    // frame by frame in plane 0 of an interleaved one. nullptr when the buffer's sample type
    // is a different one or the plane does not exist.
    [[nodiscard]] const float* floatChannelData(std::uint32_t plane) const;
    [[nodiscard]] float* floatChannelData(std::uint32_t plane);
    [[nodiscard]] const std::int16_t* int16ChannelData(std::uint32_t plane) const;
    [[nodiscard]] std::int16_t* int16ChannelData(std::uint32_t plane);
    [[nodiscard]] const std::int32_t* int32ChannelData(std::uint32_t plane) const;
    [[nodiscard]] std::int32_t* int32ChannelData(std::uint32_t plane);

private:
    PcmBuffer(const Format& format, std::uint32_t frameCapacityFrames);
    PcmBuffer(const Format& format, std::uint32_t frameCapacityFrames, const std::byte* borrowedBytes);

    [[nodiscard]] std::size_t planeSizeBytes() const;
    template <typename Sample, PcmCommonFormat Type>
    [[nodiscard]] const Sample* typed(std::uint32_t plane) const;

    Format format_;
    std::uint32_t frameCapacityFrames_ = 0;
    std::uint32_t frameLengthFrames_ = 0;
    std::vector<std::byte> storage_;
    const std::byte* readBytes_ = nullptr;
    std::byte* writeBytes_ = nullptr;
};

using PcmBufferPtr = std::shared_ptr<const PcmBuffer>;

} // namespace veltrane
