#include "storage/FakeMediaFileWriter.h"

#include <fstream>
#include <utility>

namespace veltrane::test {

std::expected<std::shared_ptr<MediaWriterInput>, PlatformError>
FakeMediaFileWriter::startWriting(const AudioOutputSettings&, const MediaTime& sourceTime) {
    std::lock_guard lock(mutex_);
    if (!state_.behaviour.acceptsSettings) {
        return std::unexpected(PlatformError{"FakeWriter", -1, "unsupported settings", nullptr,
                                             PlatformError::Kind::unsupportedFormat});
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "FAKE";
    state_.error = state_.behaviour.startError;
    if (state_.error) {
        state_.status = MediaWriterStatus::failed;
        return std::unexpected(*state_.error);
    }
    state_.status = MediaWriterStatus::writing;
    state_.sessionStart = sourceTime;
    return shared_from_this();
}

bool FakeMediaFileWriter::append(const SampleBufferPtr& buffer) {
    std::lock_guard lock(mutex_);
    if (state_.status != MediaWriterStatus::writing) {
        return false;
    }
    if (!state_.behaviour.acceptsAppends) {
        if (state_.behaviour.appendError) {
            state_.error = state_.behaviour.appendError;
            state_.status = MediaWriterStatus::failed;
        }
        return false;
    }
    state_.appended.push_back(buffer);
    return true;
}

void FakeMediaFileWriter::finishWriting(std::function<void()> completion) {
    {
        std::lock_guard lock(mutex_);
        if (state_.behaviour.holdsFinish) {
            state_.heldCompletion = std::move(completion);
            return;
        }
    }
    completeFinish(std::move(completion));
}

void FakeMediaFileWriter::completeFinish(std::function<void()> completion) {
    // A completion that captures the writer must let go of it, or the two keep each other alive.
    change([&](State& s) { s.retainedCompletion = completion; });
    // Keeps itself alive until the completion has run, as a real writer's thread would.
    completionQueue_.post([self = shared_from_this(), completion = std::move(completion)]() mutable {
        self->change([&](State& s) {
            if (s.behaviour.finishSucceeds && s.status == MediaWriterStatus::writing) {
                std::ofstream file(self->path, std::ios::binary | std::ios::app);
                for (const auto& buffer : s.appended) {
                    file.write(reinterpret_cast<const char*>(buffer->data().data()),
                               static_cast<std::streamsize>(buffer->data().size()));
                }
                s.status = MediaWriterStatus::completed;
            } else {
                s.status = MediaWriterStatus::failed;
                s.error = s.behaviour.finishError ? s.behaviour.finishError : s.error;
            }
        });
        // The completion may release the last other reference to this writer.
        auto run = std::move(completion);
        self.reset();
        run();
    });
}

bool FakeMediaFileWriter::releaseFinish() {
    std::function<void()> completion;
    change([&](State& s) { completion = std::exchange(s.heldCompletion, nullptr); });
    if (!completion) {
        return false;
    }
    completeFinish(std::move(completion));
    return true;
}

std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
FakeMediaFileWriterFactory::create(const std::filesystem::path& path, MediaFileType) {
    std::lock_guard lock(mutex_);
    if (behaviour_.createError) {
        return std::unexpected(*behaviour_.createError);
    }
    auto writer = std::make_shared<FakeMediaFileWriter>(path, behaviour_, completionQueue_);
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

} // namespace veltrane::test
