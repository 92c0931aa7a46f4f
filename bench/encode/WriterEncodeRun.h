#pragma once

#include "encode/SyntheticAudio.h"
#include "platform/encoding/MediaFileWriter.h"
#include "platform/media/SampleBuffer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace veltrane::bench {

struct WriterEncodeOptions {
    MediaFileType fileType = MediaFileType::wave;
    AudioOutputSettings settings = AudioOutputSettings::wav16Stereo48k();
    std::string fileExtension = "wav";
    std::int64_t totalFrames = 0;
    std::int64_t chunkFrames = 0; // a new file starts after this many frames
    std::int64_t framesPerBuffer = 480;
    std::filesystem::path directory;
};

struct WriterEncodeResult {
    int filesCompleted = 0;
    int filesFailed = 0;
    std::int64_t framesAppended = 0;
    std::int64_t framesRefused = 0;
    std::int64_t notReadyWaits = 0; // times the loop had to wait for the writer's queue
    std::uintmax_t bytesWritten = 0;
    std::string firstError;
};

// Feeds synthetic audio, buffer by buffer as the capture path does, through the recorder's
// pipeline: chunk rotation, the system-audio intake (conversion, gain, meters, clipping) and the
// chunk writer, which starts a new file every chunkFrames. An offline loop: when the writer is
// not ready it waits instead of dropping the buffer.
class WriterEncodeRun {
public:
    WriterEncodeRun(const SyntheticAudio& audio, MediaFileWriterFactory& factory,
                    WriterEncodeOptions options);

    // Runs to the end, waiting (with a generous bound) for every file to be finished.
    [[nodiscard]] WriterEncodeResult run();

private:
    const SyntheticAudio& audio_;
    MediaFileWriterFactory& factory_;
    WriterEncodeOptions options_;
};

} // namespace veltrane::bench
