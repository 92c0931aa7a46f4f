#pragma once

#include "platform/dispatch/SerialQueue.h"
#include "platform/encoding/MediaFileWriter.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace veltrane::test {

// How fake media writers behave; each writer starts with the factory's copy, which it may change.
struct FakeWriterBehaviour {
    std::optional<PlatformError> createError = std::nullopt;
    bool acceptsSettings = true;
    std::optional<PlatformError> startError = std::nullopt; // the start fails with it
    bool readyForMoreMediaData = true;
    bool acceptsAppends = true;
    std::optional<PlatformError> appendError = std::nullopt; // a refused append fails the writer with it
    bool finishSucceeds = true;
    std::optional<PlatformError> finishError = std::nullopt;
    bool holdsFinish = false; // the completion waits for releaseFinish()
    std::optional<PlatformError> repairError = std::nullopt;
    bool repairFindsAudio = true; // otherwise the repair removes the file: holdsNoAudio
};

// A media writer, and its own audio input, that encodes nothing: it writes "FAKE" on start and
// the appended bytes when finishing, and runs the completion on the factory's queue, at once or
// when released. Like a real writer it keeps a copy of the completion for its whole life.
class FakeMediaFileWriter : public MediaFileWriter,
                            public MediaWriterInput,
                            public std::enable_shared_from_this<FakeMediaFileWriter> {
public:
    // What the writer was given and how it stands.
    struct State {
        FakeWriterBehaviour behaviour;
        MediaWriterStatus status = MediaWriterStatus::unknown;
        std::optional<PlatformError> error;
        std::vector<SampleBufferPtr> appended;
        std::optional<MediaTime> sessionStart;
        std::function<void()> heldCompletion;
        std::function<void()> retainedCompletion;
        bool cancelled = false;
    };

    FakeMediaFileWriter(std::filesystem::path path, FakeWriterBehaviour behaviour,
                        SerialQueue& completionQueue)
        : path(std::move(path)), completionQueue_(completionQueue) {
        state_.behaviour = std::move(behaviour);
    }

    [[nodiscard]] std::expected<std::shared_ptr<MediaWriterInput>, PlatformError>
    startWriting(const AudioOutputSettings& settings, const MediaTime& sourceTime) override;
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override {
        change([](State& s) {
            s.cancelled = true;
            s.status = MediaWriterStatus::cancelled;
        });
    }
    [[nodiscard]] MediaWriterStatus status() const override { return state().status; }
    [[nodiscard]] std::optional<PlatformError> error() const override { return state().error; }

    // The input's side.
    [[nodiscard]] bool isReadyForMoreMediaData() const override {
        const State s = state();
        return s.behaviour.readyForMoreMediaData && s.status == MediaWriterStatus::writing;
    }
    [[nodiscard]] bool append(const SampleBufferPtr& buffer) override;
    void markAsFinished() override {}

    // Test controls and views.
    template <typename Edit> void change(Edit&& edit) {
        std::lock_guard lock(mutex_);
        edit(state_);
    }
    [[nodiscard]] State state() const {
        std::lock_guard lock(mutex_);
        return state_;
    }
    // Runs a held completion on the completion queue; false when none is held.
    bool releaseFinish();

    const std::filesystem::path path;

private:
    void completeFinish(std::function<void()> completion);

    SerialQueue& completionQueue_;
    mutable std::mutex mutex_;
    State state_;
};

class FakeMediaFileWriterFactory : public MediaFileWriterFactory {
public:
    ~FakeMediaFileWriterFactory() override { completionQueue_.waitUntilDrained(); }

    [[nodiscard]] std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
    create(const std::filesystem::path& path, MediaFileType fileType) override;
    [[nodiscard]] std::expected<RepairOutcome, PlatformError>
    repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) override;

    void setBehaviour(FakeWriterBehaviour behaviour) {
        std::lock_guard lock(mutex_);
        behaviour_ = std::move(behaviour);
    }
    [[nodiscard]] std::vector<std::shared_ptr<FakeMediaFileWriter>> writers() const {
        std::lock_guard lock(mutex_);
        return writers_;
    }
    [[nodiscard]] std::size_t writerCount() const { return writers().size(); }
    // Blocks until every completion posted so far has run (held ones are not posted yet).
    void waitForCompletions() { completionQueue_.waitUntilDrained(); }
    // So tests can check who else keeps the writers alive.
    void forgetWriters() {
        std::lock_guard lock(mutex_);
        writers_.clear();
    }

private:
    SerialQueue completionQueue_{"fake.media.writer.completion"};
    mutable std::mutex mutex_;
    FakeWriterBehaviour behaviour_;
    std::vector<std::shared_ptr<FakeMediaFileWriter>> writers_;
};

} // namespace veltrane::test
