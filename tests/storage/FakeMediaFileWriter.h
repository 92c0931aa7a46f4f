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

// How fake media writers behave; the factory hands a copy to every writer it creates, and a
// writer's copy can be changed afterwards.
struct FakeWriterBehaviour {
    std::optional<PlatformError> createError; // create() fails with it when set
    bool canAddInput = true;
    bool startWritingSucceeds = true;
    std::optional<PlatformError> startError; // error() after a failed start
    bool readyForMoreMediaData = true;
    bool acceptsAppends = true;
    std::optional<PlatformError> appendError; // a refused append sets it and the Failed status
    bool finishSucceeds = true;
    std::optional<PlatformError> finishError; // error() after a failed finish
    bool holdsFinish = false;                 // the completion waits for releaseFinish()
    std::optional<PlatformError> repairError; // repairInterrupted() fails with it when set
    bool repairFindsAudio = true;             // otherwise it removes the file: HoldsNoAudio
};

class FakeMediaFileWriter;

class FakeMediaWriterInput : public MediaWriterInput {
public:
    FakeMediaWriterInput(AudioOutputSettings settings, std::weak_ptr<FakeMediaFileWriter> writer)
        : settings_(std::move(settings)), writer_(std::move(writer)) {}

    [[nodiscard]] const AudioOutputSettings& outputSettings() const override { return settings_; }
    void setExpectsMediaDataInRealTime(bool realTime) override { realTime_ = realTime; }
    [[nodiscard]] bool isReadyForMoreMediaData() const override;
    [[nodiscard]] bool append(const SampleBufferPtr& buffer) override;
    void markAsFinished() override { markedFinished_ = true; }

    [[nodiscard]] bool expectsMediaDataInRealTime() const { return realTime_; }
    [[nodiscard]] bool isMarkedFinished() const { return markedFinished_; }

private:
    AudioOutputSettings settings_;
    std::weak_ptr<FakeMediaFileWriter> writer_;
    std::atomic<bool> realTime_ = false;
    std::atomic<bool> markedFinished_ = false;
};

// A media writer that encodes nothing: it records what it is given, creates its file on start
// (four bytes "FAKE"), adds the appended bytes to it when finishing, and runs its finish
// completion on the factory's completion queue, at once or when the test releases it. It keeps
// a copy of the completion for its whole life, as a real writer may.
class FakeMediaFileWriter : public MediaFileWriter, public std::enable_shared_from_this<FakeMediaFileWriter> {
public:
    FakeMediaFileWriter(std::filesystem::path path, MediaFileType fileType, FakeWriterBehaviour behaviour,
                        SerialQueue& completionQueue)
        : path_(std::move(path)), fileType_(fileType), completionQueue_(completionQueue),
          behaviour_(std::move(behaviour)) {}

    [[nodiscard]] std::shared_ptr<MediaWriterInput>
    makeAudioInput(const AudioOutputSettings& settings) override {
        return std::make_shared<FakeMediaWriterInput>(settings, weak_from_this());
    }
    [[nodiscard]] bool canAddInput(const MediaWriterInput&) const override;
    void addInput(std::shared_ptr<MediaWriterInput> input) override;
    [[nodiscard]] bool startWriting() override;
    void startSession(const MediaTime& sourceTime) override;
    void finishWriting(std::function<void()> completion) override;
    void cancelWriting() override;
    [[nodiscard]] MediaWriterStatus status() const override;
    [[nodiscard]] std::optional<PlatformError> error() const override;

    // Called by the fake input.
    [[nodiscard]] bool isReady() const;
    [[nodiscard]] bool acceptAppend(const SampleBufferPtr& buffer);

    // Test controls: the writer's own behaviour from now on.
    void change(const std::function<void(FakeWriterBehaviour&)>& edit);
    void setReadyForMoreMediaData(bool ready) {
        change([ready](FakeWriterBehaviour& b) { b.readyForMoreMediaData = ready; });
    }
    // Runs a held completion on the completion queue; false when none is held.
    bool releaseFinish();

    // What the writer was given.
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] MediaFileType fileType() const { return fileType_; }
    [[nodiscard]] std::shared_ptr<FakeMediaWriterInput> addedInput() const;
    [[nodiscard]] std::vector<SampleBufferPtr> appendedBuffers() const;
    [[nodiscard]] std::optional<MediaTime> sessionStartTime() const;
    [[nodiscard]] bool finishRequested() const;
    [[nodiscard]] bool isFinishHeld() const;
    [[nodiscard]] bool wasCancelled() const;

private:
    void completeFinish(std::function<void()> completion);

    const std::filesystem::path path_;
    const MediaFileType fileType_;
    SerialQueue& completionQueue_;
    mutable std::mutex mutex_;
    FakeWriterBehaviour behaviour_;
    MediaWriterStatus status_ = MediaWriterStatus::unknown;
    std::optional<PlatformError> error_;
    std::shared_ptr<FakeMediaWriterInput> input_;
    std::vector<SampleBufferPtr> appended_;
    std::optional<MediaTime> sessionStart_;
    std::function<void()> heldCompletion_;
    std::function<void()> retainedCompletion_;
    bool finishRequested_ = false;
    bool cancelled_ = false;
};

// Creates fake writers with the current behaviour and remembers them in order of creation.
// Finish completions run on the factory's own queue, so the factory must outlive the finishes
// of its writers; its destructor waits for the completions already posted.
class FakeMediaFileWriterFactory : public MediaFileWriterFactory {
public:
    ~FakeMediaFileWriterFactory() override { completionQueue_.waitUntilDrained(); }

    [[nodiscard]] std::expected<std::shared_ptr<MediaFileWriter>, PlatformError>
    create(const std::filesystem::path& path, MediaFileType fileType) override;
    [[nodiscard]] std::expected<RepairOutcome, PlatformError>
    repairInterrupted(const std::filesystem::path& path, MediaFileType fileType) override;

    void setBehaviour(FakeWriterBehaviour behaviour);
    // Writers created so far (failed creations are not counted).
    [[nodiscard]] std::vector<std::shared_ptr<FakeMediaFileWriter>> writers() const;
    [[nodiscard]] std::size_t writerCount() const { return writers().size(); }
    [[nodiscard]] std::shared_ptr<FakeMediaFileWriter> writer(std::size_t index) const;
    [[nodiscard]] std::size_t createAttempts() const;

    // Blocks until every completion posted so far has run (held ones are not posted yet).
    void waitForCompletions() { completionQueue_.waitUntilDrained(); }
    // Lets go of the writers it remembers, so tests can check who else keeps them alive.
    void forgetWriters();

private:
    SerialQueue completionQueue_{"fake.media.writer.completion"};
    mutable std::mutex mutex_;
    FakeWriterBehaviour behaviour_;
    std::vector<std::shared_ptr<FakeMediaFileWriter>> writers_;
    std::size_t createAttempts_ = 0;
};

} // namespace veltrane::test
