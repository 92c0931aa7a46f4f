#include "encode/WriterEncodeRun.h"

#include "recording/SystemAudioIntake.h"
#include "storage/ChunkedAudioWriter.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace veltrane::bench {

namespace {

constexpr auto kNotReadyPause = std::chrono::milliseconds(2);
constexpr auto kFinishTimeLimit = std::chrono::minutes(30);

// Outcomes reported by the chunk writer, from the writers' completion threads.
struct FinishTally {
    std::atomic<int> completed = 0;
    std::atomic<int> failed = 0;
    std::atomic<bool> finalized = false;
    std::mutex mutex;
    std::string firstError;

    void fail(const std::string& error) {
        const std::lock_guard lock(mutex);
        if (firstError.empty()) {
            firstError = error;
        }
        ++failed;
    }
};

} // namespace

WriterEncodeRun::WriterEncodeRun(const SyntheticAudio& audio, MediaFileWriterFactory& factory,
                                 WriterEncodeOptions options)
    : audio_(audio), factory_(factory), options_(std::move(options)) {}

WriterEncodeResult WriterEncodeRun::run() {
    WriterEncodeResult result;
    auto tally = std::make_shared<FinishTally>();

    ChunkedAudioWriter::Configuration configuration;
    configuration.deviceID = "bench1";
    configuration.directory = options_.directory;
    configuration.chunkDuration =
        static_cast<double>(options_.chunkFrames) / static_cast<double>(SyntheticAudio::kSampleRateHz);
    configuration.outputSettings = options_.settings;
    configuration.fileType = options_.fileType;
    configuration.fileExtension = options_.fileExtension;
    // The factory outlives the run; the chunk writer only borrows it.
    auto writer = std::make_shared<ChunkedAudioWriter>(
        configuration, std::shared_ptr<MediaFileWriterFactory>(&factory_, [](MediaFileWriterFactory*) {}));
    writer->onChunkFinished = [tally](const std::filesystem::path&) { ++tally->completed; };
    writer->onError = [tally](const ChunkWriterError& error) { tally->fail(error.fullDescription()); };

    // The intake as the recorder runs it, with its level reports going nowhere.
    MicrophoneSampleQueue micQueue;
    std::atomic<float> microphoneGain{1.0f};
    std::atomic<bool> samplesWritten{false};
    SystemAudioIntake intake(micQueue, microphoneGain, samplesWritten,
                             SystemAudioIntake::LevelSink{[](double) {}, [](double) {}, [](double) {}});

    std::vector<float> samples;
    for (std::int64_t frame = 0; frame < options_.totalFrames;) {
        const std::int64_t frames = std::min(options_.framesPerBuffer, options_.totalFrames - frame);
        samples.resize(static_cast<std::size_t>(frames * SyntheticAudio::kChannelCount));
        audio_.copyFrames(frame, frames, samples.data());
        const auto buffer = SampleBuffer::fromInterleavedFloats(
            samples.data(), samples.size(), SyntheticAudio::kChannelCount, SyntheticAudio::kSampleRateHz,
            MediaTime::make(frame, SyntheticAudio::kSampleRateHz));
        frame += frames;

        if (const auto rotated = writer->rotateIfNeeded(buffer->presentationTime()); !rotated) {
            result.firstError = rotated.error().fullDescription();
            return result;
        }
        const std::shared_ptr<MediaWriterInput> input = writer->input();
        while (input && !input->isReadyForMoreMediaData()) {
            ++result.notReadyWaits;
            std::this_thread::sleep_for(kNotReadyPause);
        }
        const SampleBufferPtr output = intake.processSystemAudio(*buffer, false, 1.0f);
        if (output && writer->append(output)) {
            samplesWritten = true;
            intake.meterOutput(*output);
            result.framesAppended += frames;
        } else {
            result.framesRefused += frames;
        }
    }
    writer->closeCurrentChunk(ChunkClose::final);
    writer->whenFinalized([tally] { tally->finalized = true; });
    writer.reset();

    const auto deadline = std::chrono::steady_clock::now() + kFinishTimeLimit;
    while (!tally->finalized && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.filesCompleted = tally->completed;
    result.filesFailed = tally->failed;
    {
        const std::lock_guard lock(tally->mutex);
        if (result.firstError.empty()) {
            result.firstError = tally->firstError;
        }
    }
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(options_.directory, ignored)) {
        if (entry.path().extension() == "." + options_.fileExtension) {
            result.bytesWritten += entry.file_size(ignored);
        }
    }
    return result;
}

} // namespace veltrane::bench
