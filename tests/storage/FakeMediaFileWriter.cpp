#include "storage/FakeMediaFileWriter.h"

#include <fstream>
#include <utility>

namespace veltrane::test {

bool FakeMediaWriterInput::isReadyForMoreMediaData() const {
    const auto writer = writer_.lock();
    return writer && writer->isReady();
}

bool FakeMediaWriterInput::append(const SampleBufferPtr& buffer) {
    const auto writer = writer_.lock();
    return writer && writer->acceptAppend(buffer);
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
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << "FAKE";
    status_ = behaviour_.startWritingSucceeds ? MediaWriterStatus::writing : MediaWriterStatus::failed;
    error_ = behaviour_.startWritingSucceeds ? std::nullopt : behaviour_.startError;
    return behaviour_.startWritingSucceeds;
}

void FakeMediaFileWriter::startSession(const MediaTime& sourceTime) {
    std::lock_guard lock(mutex_);
    sessionStart_ = sourceTime;
}

bool FakeMediaFileWriter::isReady() const {
    std::lock_guard lock(mutex_);
    return behaviour_.readyForMoreMediaData && status_ == MediaWriterStatus::writing;
}

bool FakeMediaFileWriter::acceptAppend(const SampleBufferPtr& buffer) {
    std::lock_guard lock(mutex_);
    if (status_ != MediaWriterStatus::writing) {
        return false;
    }
    if (!behaviour_.acceptsAppends) {
        if (behaviour_.appendError) {
            error_ = behaviour_.appendError;
            status_ = MediaWriterStatus::failed;
        }
        return false;
    }
    appended_.push_back(buffer);
    return true;
}

void FakeMediaFileWriter::finishWriting(std::function<void()> completion) {
    {
        std::lock_guard lock(mutex_);
        finishRequested_ = true;
        if (behaviour_.holdsFinish) {
            heldCompletion_ = std::move(completion);
            return;
        }
    }
    completeFinish(std::move(completion));
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
            if (self->behaviour_.finishSucceeds && self->status_ == MediaWriterStatus::writing) {
                std::ofstream file(self->path_, std::ios::binary | std::ios::app);
                for (const auto& buffer : self->appended_) {
                    file.write(reinterpret_cast<const char*>(buffer->data().data()),
                               static_cast<std::streamsize>(buffer->data().size()));
                }
                self->status_ = MediaWriterStatus::completed;
            } else {
                self->status_ = MediaWriterStatus::failed;
                self->error_ = self->behaviour_.finishError ? self->behaviour_.finishError : self->error_;
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
        completion = std::exchange(heldCompletion_, nullptr);
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
    status_ = MediaWriterStatus::cancelled;
}

void FakeMediaFileWriter::change(const std::function<void(FakeWriterBehaviour&)>& edit) {
    std::lock_guard lock(mutex_);
    edit(behaviour_);
}

MediaWriterStatus FakeMediaFileWriter::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::optional<PlatformError> FakeMediaFileWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
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
FakeMediaFileWriterFactory::repairInterrupted(const std::filesystem::path& path, MediaFileType) {
    std::lock_guard lock(mutex_);
    if (behaviour_.repairError) {
        return std::unexpected(*behaviour_.repairError);
    }
    if (!behaviour_.repairFindsAudio) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return RepairOutcome::holdsNoAudio;
    }
    return RepairOutcome::repaired;
}

void FakeMediaFileWriterFactory::setBehaviour(FakeWriterBehaviour behaviour) {
    std::lock_guard lock(mutex_);
    behaviour_ = std::move(behaviour);
}

std::vector<std::shared_ptr<FakeMediaFileWriter>> FakeMediaFileWriterFactory::writers() const {
    std::lock_guard lock(mutex_);
    return writers_;
}

std::shared_ptr<FakeMediaFileWriter> FakeMediaFileWriterFactory::writer(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < writers_.size() ? writers_[index] : nullptr;
}

std::size_t FakeMediaFileWriterFactory::createAttempts() const {
    std::lock_guard lock(mutex_);
    return createAttempts_;
}

void FakeMediaFileWriterFactory::forgetWriters() {
    std::lock_guard lock(mutex_);
    writers_.clear();
}

} // namespace veltrane::test
