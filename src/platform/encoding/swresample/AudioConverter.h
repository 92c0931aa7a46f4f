#pragma once

#include "platform/core/PlatformError.h"
#include "platform/media/PcmBuffer.h"

#include <expected>
#include <functional>
#include <memory>
#include <optional>

struct SwrContext;

namespace veltrane {

// Converts PCM audio from one format to another (sample rate, sample type, layout) with a
// resampler that keeps its state from one call to the next: audio that did not fit into
// one output buffer, and the resampler's own look-ahead, come out with the following call,
// so a stream fed buffer by buffer converts without gaps or clicks at buffer boundaries.
class AudioConverter {
public:
    // What an input provider answers when asked for input.
    enum class InputStatus {
        haveData,    // here is a buffer (in the converter's input format)
        noDataNow,   // nothing more for now; more may come in a later call
        endOfStream, // no more input ever: the resampler's remaining audio is flushed
        error,       // the provider failed
    };

    struct Input {
        InputStatus status = InputStatus::noDataNow;
        PcmBufferPtr buffer;
    };

    // Asked repeatedly for input until the output buffer is full or it answers anything but
    // HaveData. Each buffer handed over is consumed completely.
    using InputProvider = std::function<Input()>;

    enum class OutputStatus {
        haveData = 0,    // the output buffer is full; more may be waiting inside
        inputRanDry = 1, // the provider had nothing more for now; the output holds what was made
        endOfStream = 2, // the provider ended the stream and everything has been put out
    };
    using Result = std::expected<OutputStatus, PlatformError>;

    // A converter from `input` to `output`, or nothing when the formats are invalid or the
    // resampler cannot convert between them.
    [[nodiscard]] static std::unique_ptr<AudioConverter> make(const PcmBuffer::Format& input,
                                                              const PcmBuffer::Format& output);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    [[nodiscard]] const PcmBuffer::Format& inputFormat() const { return inputFormat_; }
    [[nodiscard]] const PcmBuffer::Format& outputFormat() const { return outputFormat_; }

    // Fills `output` (which must be in the output format) from its first frame on, with
    // audio left over from earlier calls first and then with what the provider hands over;
    // sets its frame length to the frames written.
    [[nodiscard]] Result convert(PcmBuffer& output, const InputProvider& provider);

private:
    struct SwrContextDeleter {
        void operator()(SwrContext* context) const;
    };

    AudioConverter(const PcmBuffer::Format& input, const PcmBuffer::Format& output, SwrContext* context);

    // Runs the resampler on `input` (nullptr: flush) into the free part of `output`; returns
    // the frames written or a negative error code.
    [[nodiscard]] int run(PcmBuffer& output, std::uint32_t writtenFrames, const PcmBuffer* input, bool flush);

    PcmBuffer::Format inputFormat_;
    PcmBuffer::Format outputFormat_;
    std::unique_ptr<SwrContext, SwrContextDeleter> context_;
    bool flushed_ = false;
};

} // namespace veltrane
