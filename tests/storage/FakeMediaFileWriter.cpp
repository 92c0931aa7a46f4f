#include "storage/FakeMediaFileWriter.h"

#include <fstream>
#include <utility>

namespace veltrane::test {

FakeMediaWriterInput::FakeMediaWriterInput(AudioOutputSettings settings,
                                           std::weak_ptr<FakeMediaFileWriter> writer)
    : settings_(std::move(settings)), writer_(std::move(writer)) {}

void FakeMediaWriterInput::setExpectsMediaDataInRealTime(bool realTime) {
    std::lock_guard lock(mutex_);
    realTime_ = realTime;
}

bool FakeMediaWriterInput::isReadyForMoreMediaData() const {
    const auto writer = writer_.lock();
    return writer && writer->isReady();
}

bool FakeMediaWriterInput::append(const SampleBufferPtr& buffer) {
    const auto writer = writer_.lock();
    return writer && writer->acceptAppend(buffer);
}

void FakeMediaWriterInput::markAsFinished() {
    std::lock_guard lock(mutex_);
    markedFinished_ = true;
}

bool FakeMediaWriterInput::expectsMediaDataInRealTime() const {
    std::lock_guard lock(mutex_);
    return realTime_;
}

bool FakeMediaWriterInput::isMarkedFinished() const {
    std::lock_guard lock(mutex_);
    return markedFinished_;
}

FakeMediaFileWriter::FakeMediaFileWriter(std::filesystem::path path, MediaFileType fileType,
                                         FakeWriterBehaviour behaviour, SerialQueue& completionQueue)
    : path_(std::move(path)), fileType_(fileType), completionQueue_(completionQueue),
      behaviour_(std::move(behaviour)) {}

std::shared_ptr<MediaWriterInput> FakeMediaFileWriter::makeAudioInput(const AudioOutputSettings& settings) {
    return std::make_shared<FakeMediaWriterInput>(settings, weak_from_this());
}

bool FakeMediaFileWriter::canAddInput(const MediaWriterInput&) const {
    std::lock_guard lock(mutex_);
    return behaviour_.canAddInput && !input_;
}

void FakeMediaFileWriter::addInput(std::shared_ptr<MediaWriterInput> input) {
    std::lock_guard lock(mutex_);
    input_ = std::dynamic_pointer_cast<FakeMediaWriterInput>(std::move(input));
}

bool FakeMediaFileWriter::startWriting() {
    std::lock_guard lock(mutex_);
    if (behaviour_.createsFileOnStart) {
        std::ofstream file(path_, std::ios::binary | std::ios::trunc);
        file << "FAKE";
    }
    if (!behaviour_.startWritingSucceeds) {
        status_ = MediaWriterStatus::Failed;
        error_ = behaviour_.startError;
        return false;
    }
    status_ = MediaWriterStatus::Writing;
    return true;
}

void FakeMediaFileWriter::startSession(const MediaTime& sourceTime) {
    std::lock_guard lock(mutex_);
    sessionStart_ = sourceTime;
}

bool FakeMediaFileWriter::isReady() const {
    std::lock_guard lock(mutex_);
    return behaviour_.readyForMoreMediaData && status_ == MediaWriterStatus::Writing;
}

bool FakeMediaFileWriter::acceptAppend(const SampleBufferPtr& buffer) {
    std::lock_guard lock(mutex_);
    if (status_ != MediaWriterStatus::Writing) {
        return false;
    }
    if (!behaviour_.acceptsAppends) {
        if (behaviour_.appendError) {
            error_ = behaviour_.appendError;
            status_ = MediaWriterStatus::Failed;
        }
        return false;
    }
    appended_.push_back(buffer);
    return true;
}

void FakeMediaFileWriter::finishWriting(std::function<void()> completion) {
    bool hold = false;
    {
        std::lock_guard lock(mutex_);
        finishRequested_ = true;
        hold = behaviour_.holdsFinish;
        if (hold) {
            heldCompletion_ = std::move(completion);
        }
    }
    if (!hold) {
        completeFinish(std::move(completion));
    }
}

void FakeMediaFileWriter::completeFinish(std::function<void()> completion) {
    {
        // Like a writer that keeps its handler until it is destroyed: whoever captures the
        // writer in the completion must let go of it, or the two keep each other alive.
        std::lock_guard lock(mutex_);
        retainedCompletion_ = completion;
    }
    // Keeps itself alive until the completion has run, as a real writer's thread would.
    completionQueue_.post([self = shared_from_this(), completion = std::move(completion)]() mutable {
        {
            std::lock_guard lock(self->mutex_);
            if (self->behaviour_.finishSucceeds && self->status_ == MediaWriterStatus::Writing) {
                std::ofstream file(self->path_, std::ios::binary | std::ios::app);
                for (const auto& buffer : self->appended_) {
                    file.write(reinterpret_cast<const char*>(buffer->data().data()),
                               static_cast<std::streamsize>(buffer->data().size()));
                }
                self->status_ = MediaWriterStatus::Completed;
            } else {
                self->status_ = MediaWriterStatus::Failed;
                if (self->behaviour_.finishError) {
                    self->error_ = self->behaviour_.finishError;
                }
            }
        }
        // The completion may release the last other reference to this writer.
        auto run = std::move(completion);
        self.reset();
        run();
    });
}

bool FakeMediaFileWriter::releaseFinish() {
    std::function<void()> completion;
    {
        std::lock_guard lock(mutex_);
        completion = std::move(heldCompletion_);
        heldCompletion_ = nullptr;
    }
    if (!completion) {
        return false;
    }
    completeFinish(std::move(completion));
    return true;
}

void FakeMediaFileWriter::cancelWriting() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    status_ = MediaWriterStatus::Cancelled;
}

MediaWriterStatus FakeMediaFileWriter::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::optional<PlatformError> FakeMediaFileWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void FakeMediaFileWriter::setReadyForMoreMediaData(bool ready) {
    std::lock_guard lock(mutex_);
    behaviour_.readyForMoreMediaData = ready;
}

void FakeMediaFileWriter::setAcceptsAppends(bool accepts, std::optional<PlatformError> error) {
    std::lock_guard lock(mutex_);
    behaviour_.acceptsAppends = accepts;
    behaviour_.appendError = std::move(error);
}

void FakeMediaFileWriter::setFinishOutcome(bool succeeds, std::optional<PlatformError> error) {
    std::lock_guard lock(mutex_);
    behaviour_.finishSucceeds = succeeds;
    behaviour_.finishError = std::move(error);
}

std::shared_ptr<FakeMediaWriterInput> FakeMediaFileWriter::addedInput() const {
    std::lock_guard lock(mutex_);
    return input_;
}

std::vector<SampleBufferPtr> FakeMediaFileWriter::appendedBuffers() const {
    std::lock_guard lock(mutex_);
    return appended_;
}

std::optional<MediaTime> FakeMediaFileWriter::sessionStartTime() const {
    std::lock_guard lock(mutex_);
    return sessionStart_;
}

bool FakeMediaFileWriter::finishRequested() const {
    std::lock_guard lock(mutex_);
    return finishRequested_;
}

bool FakeMediaFileWriter::isFinishHeld() const {
    std::lock_guard lock(mutex_);
    return static_cast<bool>(heldCompletion_);
}

bool FakeMediaFileWriter::wasCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

FakeMediaFileWriterFactory::FakeMediaFileWriterFactory() = default;

FakeMediaFileWriterFactory::~FakeMediaFileWriterFactory() {
    completionQueue_.waitUntilDrained();
}

std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
FakeMediaFileWriterFactory::create(const std::filesystem::path& path, MediaFileType fileType) {
    std::lock_guard lock(mutex_);
    ++createAttempts_;
    if (behaviour_.createError) {
        return std::unexpected(*behaviour_.createError);
    }
    auto writer = std::make_shared<FakeMediaFileWriter>(path, fileType, behaviour_, completionQueue_);
    writers_.push_back(writer);
    return writer;
}

std::expected<RepairOutcome, PlatformError>
FakeMediaFileWriterFactory::repairInterrupted(const std::filesystem::path& path, MediaFileType /*fileType*/) {
    std::lock_guard lock(mutex_);
    if (behaviour_.repairError) {
        return std::unexpected(*behaviour_.repairError);
    }
    if (!behaviour_.repairFindsAudio) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return RepairOutcome::HoldsNoAudio;
    }
    return RepairOutcome::Repaired;
}

void FakeMediaFileWriterFactory::setBehaviour(FakeWriterBehaviour behaviour) {
    std::lock_guard lock(mutex_);
    behaviour_ = std::move(behaviour);
}

FakeWriterBehaviour FakeMediaFileWriterFactory::behaviour() const {
    std::lock_guard lock(mutex_);
    return behaviour_;
}

std::vector<std::shared_ptr<FakeMediaFileWriter>> FakeMediaFileWriterFactory::writers() const {
    std::lock_guard lock(mutex_);
    return writers_;
}

std::size_t FakeMediaFileWriterFactory::writerCount() const {
    std::lock_guard lock(mutex_);
    return writers_.size();
}

std::shared_ptr<FakeMediaFileWriter> FakeMediaFileWriterFactory::writer(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < writers_.size() ? writers_[index] : nullptr;
}

std::size_t FakeMediaFileWriterFactory::createAttempts() const {
    std::lock_guard lock(mutex_);
    return createAttempts_;
}

void FakeMediaFileWriterFactory::waitForCompletions() {
    completionQueue_.waitUntilDrained();
}

void FakeMediaFileWriterFactory::forgetWriters() {
    std::lock_guard lock(mutex_);
    writers_.clear();
}

} // namespace veltrane::test
