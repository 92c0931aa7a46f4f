#include "encode/WriterEncodeRun.h"

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

// Finish outcomes, shared with completions that run on the writers' threads.
struct FinishTally {
    std::atomic<int> completed = 0;
    std::atomic<int> failed = 0;
    std::mutex mutex;
    std::string firstError;
};

} // namespace

WriterEncodeRun::WriterEncodeRun(const SyntheticAudio& audio, MediaFileWriterFactory& factory,
                                 WriterEncodeOptions options, IntakeHook intake)
    : audio_(audio), factory_(factory), options_(std::move(options)), intake_(std::move(intake)) {}

WriterEncodeResult WriterEncodeRun::run() {
    WriterEncodeResult result;
    auto tally = std::make_shared<FinishTally>();
    int filesOpened = 0;
    std::shared_ptr<MediaFileWriter> writer;
    std::shared_ptr<MediaWriterInput> input;
    std::int64_t framesInFile = 0;

    const auto closeFile = [&] {
        if (!writer) {
            return;
        }
        input->markAsFinished();
        // The completion holds the writer, as the chunk writer's finalisation does.
        writer->finishWriting([tally, finished = writer] {
            if (finished->status() == MediaWriterStatus::Completed) {
                ++tally->completed;
                return;
            }
            const std::lock_guard lock(tally->mutex);
            if (tally->firstError.empty()) {
                const auto error = finished->error();
                tally->firstError = describeError(error ? &*error : nullptr);
            }
            ++tally->failed;
        });
        writer.reset(); // the finish goes on without us
        input.reset();
    };
    const auto openFile = [&](std::int64_t firstFrame) -> bool {
        const auto path =
            options_.directory / ("chunk-" + std::to_string(filesOpened + 1) + "." + options_.fileExtension);
        auto created = factory_.create(path, options_.fileType);
        if (!created) {
            result.firstError = created.error().fullDescription();
            return false;
        }
        writer = *created;
        input = writer->makeAudioInput(options_.settings);
        input->setExpectsMediaDataInRealTime(true);
        if (!writer->canAddInput(*input)) {
            result.firstError = "cannot add input";
            return false;
        }
        writer->addInput(input);
        if (!writer->startWriting()) {
            const auto error = writer->error();
            result.firstError = describeError(error ? &*error : nullptr);
            return false;
        }
        writer->startSession(MediaTime::make(firstFrame, SyntheticAudio::kSampleRateHz));
        ++filesOpened;
        framesInFile = 0;
        return true;
    };

    std::vector<float> samples;
    for (std::int64_t frame = 0; frame < options_.totalFrames;) {
        if (!writer || framesInFile >= options_.chunkFrames) {
            closeFile();
            if (!openFile(frame)) {
                return result;
            }
        }
        const std::int64_t frames = std::min(options_.framesPerBuffer, options_.totalFrames - frame);
        samples.resize(static_cast<std::size_t>(frames * SyntheticAudio::kChannelCount));
        audio_.copyFrames(frame, frames, samples.data());
        auto buffer = SampleBuffer::fromInterleavedFloats(
            samples.data(), samples.size(), SyntheticAudio::kChannelCount, SyntheticAudio::kSampleRateHz,
            MediaTime::make(frame, SyntheticAudio::kSampleRateHz));
        buffer = intake_ ? intake_(buffer) : buffer;
        while (!input->isReadyForMoreMediaData() && writer->status() == MediaWriterStatus::Writing) {
            ++result.notReadyWaits;
            std::this_thread::sleep_for(kNotReadyPause);
        }
        if (input->append(buffer)) {
            result.framesAppended += frames;
        } else {
            result.framesRefused += frames;
        }
        framesInFile += frames;
        frame += frames;
    }
    closeFile();

    const auto deadline = std::chrono::steady_clock::now() + kFinishTimeLimit;
    while (tally->completed + tally->failed < filesOpened && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    result.filesCompleted = tally->completed;
    result.filesFailed = filesOpened - tally->completed;
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
