#include "recording/RecordingPipeline.h"

#include "platform/core/Log.h"
#include "storage/ChunkedAudioWriter.h"

#include <vector>

namespace veltrane {

namespace {

constexpr int kTargetSampleRate = 48000;

} // namespace

RecordingPipeline::RecordingPipeline(SessionLink link)
    : link_(std::move(link)),
      intake_(micBufferQueue_, shared_.microphoneGain, shared_.samplesWritten,
              SystemAudioIntake::LevelSink{
                  [this](double level) { levels_.store(PendingLevels::Meter::system, level); },
                  [this](double level) { levels_.store(PendingLevels::Meter::microphone, level); },
                  [this](double level) { levels_.store(PendingLevels::Meter::output, level); }}) {}

// MARK: - Starting

void RecordingPipeline::beginRecording(std::shared_ptr<ChunkedAudioWriter> writer, std::uint64_t generation) {
    waitingSystemAudio_.clear(); // an earlier recording's stop has handed its audio on
    waitingSystemFrames_ = 0;
    processingWriter_ = std::move(writer);
    processingGeneration_ = generation;
    rotationFailed_ = false;
}

void RecordingPipeline::prepareMicrophone(MicrophoneInput input) {
    if (input == MicrophoneInput::absent) {
        micNormalizer_.reset();
        return;
    }
    micConversionFailures_ = 0;
    hasLoggedMicFormat_ = false;
    micNormalizer_ = std::make_unique<AudioNormalizer>(kTargetSampleRate);
}

void RecordingPipeline::setFiling(const std::optional<ChunkFiling>& filing) {
    if (processingWriter_) {
        processingWriter_->setFiling(filing);
    }
}

// MARK: - Level meters

void RecordingPipeline::PendingLevels::store(Meter meter, double level) {
    const auto index = static_cast<std::size_t>(meter);
    values[index].store(level, std::memory_order_relaxed);
    changed.fetch_or(1u << static_cast<unsigned>(index), std::memory_order_release);
}

void RecordingPipeline::publishLevels() {
    if (levels_.changed.load(std::memory_order_relaxed) == 0 || levels_.posted.exchange(true)) {
        return;
    }
    link_.levelsPending();
}

RecordingPipeline::Levels RecordingPipeline::takeLevels() {
    levels_.posted = false;
    const unsigned changed = levels_.changed.exchange(0, std::memory_order_acquire);
    const auto value = [this, changed](PendingLevels::Meter meter) -> std::optional<double> {
        const auto index = static_cast<std::size_t>(meter);
        if ((changed & (1u << static_cast<unsigned>(index))) == 0) {
            return std::nullopt;
        }
        return levels_.values[index].load(std::memory_order_relaxed);
    };
    return Levels{value(PendingLevels::Meter::system), value(PendingLevels::Meter::microphone),
                  value(PendingLevels::Meter::output)};
}

// MARK: - Per-buffer hand-off

void RecordingPipeline::handleSystemAudio(const SampleBufferPtr& buffer) {
    if (!processingWriter_ || !buffer) {
        return;
    }
    waitingSystemAudio_.push_back(buffer);
    waitingSystemFrames_ += static_cast<std::size_t>(buffer->numSamples());
    releaseSystemAudio(Release::whenMicrophoneReady);
}

void RecordingPipeline::releaseSystemAudio(Release release) {
    while (!waitingSystemAudio_.empty()) {
        const SampleBufferPtr buffer = waitingSystemAudio_.front();
        const auto frames = static_cast<std::size_t>(buffer->numSamples());
        if (release == Release::whenMicrophoneReady && waitingSystemFrames_ <= kMicLateLimitSamples &&
            micBufferQueue_.lacksSamplesFor(frames)) {
            return;
        }
        waitingSystemAudio_.pop_front();
        waitingSystemFrames_ -= frames;
        processSystemAudio(buffer);
    }
}

void RecordingPipeline::processSystemAudio(const SampleBufferPtr& buffer) {
    appendSystemAudio(buffer);
    // The meters reach the main thread with the first buffer and then about twenty times a
    // second of audio, however small the buffers are.
    if (levelsDueInSeconds_ <= 0) {
        levelsDueInSeconds_ = kLevelsIntervalSeconds;
        publishLevels();
    }
    const auto& format = buffer->format();
    if (format && format->sampleRate > 0) {
        levelsDueInSeconds_ -= static_cast<double>(buffer->numSamples()) / format->sampleRate;
    }
}

void RecordingPipeline::appendSystemAudio(const SampleBufferPtr& buffer) {
    ChunkedAudioWriter& writer = *processingWriter_;
    if (rotationFailed_) {
        return; // the recording is being stopped; one failure report is enough
    }
    if (const auto rotated = writer.rotateIfNeeded(buffer->presentationTime()); !rotated) {
        rotationFailed_ = true;
        logCritical(lcRecording(), "❌ Chunk rotation failed: " + rotated.error().fullDescription());
        link_.recordingFailed(processingGeneration_, rotated.error().localizedDescription());
        return;
    }
    if (!shared_.sessionStarted.exchange(true)) {
        logInfo(lcRecording(), "✅ Session started");
    }
    const bool mixMicrophone = micBufferQueue_.isMixing();
    const std::shared_ptr<MediaWriterInput> input = writer.input();
    if (!input) {
        return;
    }
    if (!input->isReadyForMoreMediaData()) {
        // The encoder has fallen behind: the writer pays this time back in silence.
        const auto& format = buffer->format();
        writer.noteDroppedAudio(format && format->sampleRate > 0 ? buffer->numSamples() / format->sampleRate
                                                                 : 0);
        return;
    }
    const SampleBufferPtr output =
        intake_.processSystemAudio(*buffer, mixMicrophone, shared_.systemGain.load());
    if (!output) {
        return;
    }
    noteMicrophoneUnderruns();
    if (writer.append(output)) {
        if (!shared_.samplesWritten.load()) {
            logInfo(lcRecording(), std::string("✅ Recording started (") +
                                       (mixMicrophone ? "with microphone mixing" : "system audio only") +
                                       ")");
            shared_.samplesWritten = true;
        }
        intake_.meterOutput(*output);
    }
}

void RecordingPipeline::noteMicrophoneUnderruns() {
    // The first drop, then once per further second dropped.
    if (const std::int64_t dropped = micBufferQueue_.droppedSamples(); dropped != micDroppedSamples_) {
        const bool logged =
            micDroppedSamples_ == 0 || dropped / kTargetSampleRate != micDroppedSamples_ / kTargetSampleRate;
        micDroppedSamples_ = dropped;
        if (logged) {
            logWarning(lcRecording(),
                       "⚠️ Mic queue full: " + std::to_string(dropped * 1000 / kTargetSampleRate) +
                           " ms of microphone audio dropped so far");
        }
    }
    const std::int64_t underruns = micBufferQueue_.underruns();
    if (underruns == micUnderruns_) {
        return;
    }
    micUnderruns_ = underruns;
    if (underruns == 1 || underruns % 200 == 0) {
        logWarning(lcRecording(), "⚠️ Mic queue ran dry (" + std::to_string(underruns) + " so far)");
    }
}

void RecordingPipeline::handleMicrophoneBuffer(const SampleBufferPtr& buffer) {
    if (!micNormalizer_ || !buffer) {
        return;
    }
    if (!hasLoggedMicFormat_ && buffer->format()) {
        hasLoggedMicFormat_ = true;
        detectedMicSampleRate_ = buffer->format()->sampleRate;
        const auto format = PcmBuffer::Format::fromStreamDescription(*buffer->format());
        logInfo(lcRecording(),
                "🎤 Mic input: " + (format ? format->description()
                                          : std::to_string(buffer->format()->channelsPerFrame) + " ch, " +
                                                std::to_string(buffer->format()->sampleRate) + " Hz"));
    }
    const PcmBufferPtr pcm = AudioNormalizer::makePCMBuffer(*buffer);
    const PcmBufferPtr converted = pcm ? micNormalizer_->convert(pcm) : nullptr;
    if (!converted) {
        const std::int64_t failures = ++micConversionFailures_;
        if (failures == 1 || failures % 200 == 0) {
            logWarning(lcRecording(),
                       "⚠️ Mic buffer conversion failed (" + std::to_string(failures) + " so far)");
        }
        return;
    }
    const std::vector<float> mono = AudioNormalizer::monoSamples(*converted);
    if (mono.empty()) {
        return;
    }
    micBufferQueue_.append(mono, kMicQueueBoundSamples);
    releaseSystemAudio(Release::whenMicrophoneReady);
}

// MARK: - Stopping

void RecordingPipeline::stop(const std::shared_ptr<ChunkedAudioWriter>& writer,
                             const std::shared_ptr<MicrophoneCapture>& microphone) {
    if (microphone) {
        microphone->stopRunning();
    }
    if (processingWriter_ == writer) {
        releaseSystemAudio(Release::all); // with what the microphone gave
    }
    micBufferQueue_.clear();
    micUnderruns_ = 0;
    micDroppedSamples_ = 0;
    micNormalizer_.reset();
    levelsDueInSeconds_ = 0;
    shared_.samplesWritten = false;
    shared_.sessionStarted = false;
    if (writer) {
        writer->closeCurrentChunk(ChunkClose::final);
    }
    if (processingWriter_ == writer) {
        processingWriter_.reset();
    }
}

} // namespace veltrane
