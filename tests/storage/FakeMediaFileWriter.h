#pragma once

#include "platform/dispatch/SerialQueue.h"
#include "platform/encoding/MediaFileWriter.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace veltrane::test {

// How fake media writers behave; each writer starts with the factory's copy, which it may change.
struct FakeWriterBehaviour {
    std::optional<PlatformError> createError = std::nullopt; // create() fails with it
    bool canAddInput = true;
    bool startWritingSucceeds = true;
    std::optional<PlatformError> startError = std::nullopt; // error() after a failed start
    bool readyForMoreMediaData = true;
    bool acceptsAppends = true;
    std::optional<PlatformError> appendError = std::nullopt; // a refused append sets it and the failed status
    bool finishSucceeds = true;
    std::optional<PlatformError> finishError = std::nullopt; // error() after a failed finish
    bool holdsFinish = false;                                // the completion waits for releaseFinish()
    std::optional<PlatformError> repairError = std::nullopt; // repairInterrupted() fails with it
    bool repairFindsAudio = true;                            // otherwise it removes the file: holdsNoAudio
};

class FakeMediaFileWriter;

class FakeMediaWriterInput : public MediaWriterInput {
public:
    FakeMediaWriterInput(AudioOutputSettings settings, std::weak_ptr<FakeMediaFileWriter> writer)
        : settings(std::move(settings)), writer_(std::move(writer)) {}

    [[nodiscard]] const AudioOutputSettings& outputSettings() const override { return settings; }
    void setExpectsMediaDataInRealTime(bool realTime) override { expectsRealTime = realTime; }
    [[nodiscard]] bool isReadyForMoreMediaData() const override;
    [[nodiscard]] bool append(const SampleBufferPtr& buffer) override;
    void markAsFinished() override { markedFinished = true; }

    const AudioOutputSettings settings;
    std::atomic<bool> expectsRealTime = false;
    std::atomic<bool> markedFinished = false;

private:
    std::weak_ptr<FakeMediaFileWriter> writer_;
};

// A media writer that encodes nothing: it records what it is given, creates its file on start
// (four bytes "FAKE"), adds the appended bytes when finishing, and runs the finish completion on
// the factory's queue, at once or when the test releases it. Like a real writer it keeps a copy
// of the completion for its whole life.
class FakeMediaFileWriter : public MediaFileWriter, public std::enable_shared_from_this<FakeMediaFileWriter> {
public:
    // What the writer was given and how it stands.
    struct State {
        FakeWriterBehaviour behaviour;
        MediaWriterStatus status = MediaWriterStatus::unknown;
        std::optional<PlatformError> error;
        std::shared_ptr<FakeMediaWriterInput> input;
        std::vector<SampleBufferPtr> appended;
        std::optional<MediaTime> sessionStart;
        std::function<void()> heldCompletion;
        std::function<void()> retainedCompletion;
        bool finishRequested = false;
        bool cancelled = false;
    };

    FakeMediaFileWriter(std::filesystem::path path, MediaFileType fileType, FakeWriterBehaviour behaviour,
                        SerialQueue& completionQueue)
        : path(std::move(path)), fileType(fileType), completionQueue_(completionQueue) {
        state_.behaviour = std::move(behaviour);
    }

    [[nodiscard]] std::shared_ptr<MediaWriterInput>
    makeAudioInput(const AudioOutputSettings& settings) override {
        return std::make_shared<FakeMediaWriterInput>(settings, weak_from_this());
    }
    // Reads the state under the lock.
    template <typename Read> auto locked(Read&& read) const {
        std::lock_guard lock(mutex_);
        return read(state_);
    }
    [[nodiscard]] bool canAddInput(const MediaWriterInput&) const override {
        return locked([](const State& s) { return s.behaviour.canAddInput && !s.input; });
    }
    void addInput(std::shared_ptr<MediaWriterInput> input) override {
        change(
            [&](State& s) { s.input = std::dynamic_pointer_cast<FakeMediaWriterInput>(std::move(input)); });
    }
    [[nodiscard]] bool startWriting() override;
    void startSession(const MediaTime& sourceTime) override {
        change([&](State& s) { s.sessionStart = sourceTime; });
    }
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override {
        change([](State& s) {
            s.cancelled = true;
            s.status = MediaWriterStatus::cancelled;
        });
    }
    [[nodiscard]] MediaWriterStatus status() const override {
        return locked([](const State& s) { return s.status; });
    }
    [[nodiscard]] std::optional<PlatformError> error() const override {
        return locked([](const State& s) { return s.error; });
    }

    // Called by the fake input.
    [[nodiscard]] bool acceptAppend(const SampleBufferPtr& buffer);

    // Test controls and views.
    template <typename Edit> void change(Edit&& edit) {
        std::lock_guard lock(mutex_);
        edit(state_);
    }
    void setReadyForMoreMediaData(bool ready) {
        change([ready](State& s) { s.behaviour.readyForMoreMediaData = ready; });
    }
    [[nodiscard]] State state() const {
        return locked([](const State& s) { return s; });
    }
    // Runs a held completion on the completion queue; false when none is held.
    bool releaseFinish();

    const std::filesystem::path path;
    const MediaFileType fileType;

private:
    void completeFinish(std::function<void()> completion);

    SerialQueue& completionQueue_;
    mutable std::mutex mutex_;
    State state_;
};

// Creates fake writers with the current behaviour and remembers them in order of creation. Finish
// completions run on the factory's own queue; its destructor waits for those already posted.
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
    // Writers created so far (failed creations are not counted).
    [[nodiscard]] std::vector<std::shared_ptr<FakeMediaFileWriter>> writers() const {
        std::lock_guard lock(mutex_);
        return writers_;
    }
    [[nodiscard]] std::size_t writerCount() const { return writers().size(); }
    [[nodiscard]] std::shared_ptr<FakeMediaFileWriter> writer(std::size_t index) const {
        const auto all = writers();
        return index < all.size() ? all[index] : nullptr;
    }
    // Blocks until every completion posted so far has run (held ones are not posted yet).
    void waitForCompletions() { completionQueue_.waitUntilDrained(); }
    // Lets go of the writers, so tests can check who else keeps them alive.
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
