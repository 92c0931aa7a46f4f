#pragma once

#include "platform/capture/CaptureService.h"
#include "platform/dispatch/SerialQueue.h"

#include <atomic>
#include <optional>

namespace veltrane::test {

// A system-audio stream driven by hand; start and stop complete on a thread of their own.
class FakeSystemAudioStream : public SystemAudioStream {
public:
    FakeSystemAudioStream(std::function<void(const PlatformError&)> didStop,
                          std::shared_ptr<std::atomic<int>> live)
        : didStop_(std::move(didStop)), live_(std::move(live)) {
        ++*live_;
    }
    ~FakeSystemAudioStream() override { --*live_; }

    std::expected<void, PlatformError> setAudioHandler(SerialQueue& queue, AudioHandler handler) override;
    void startCapture(Completion completion) override;
    void stopCapture(Completion completion) override;

    // Posts one interleaved float stereo buffer of `frames` frames at `ptsFrames` (timescale 48000).
    void deliver(std::int64_t ptsFrames, int frames, float value);
    void stopWithError(const PlatformError& error) { didStop_(error); }

    std::optional<PlatformError> handlerError;
    std::optional<PlatformError> startError;
    CaptureTarget target;

private:
    std::function<void(const PlatformError&)> didStop_;
    SerialQueue* queue_ = nullptr;
    AudioHandler audioHandler_;
    std::shared_ptr<std::atomic<int>> live_;
};

// A microphone fed by hand; buffers go to the recorder's queue like the real one's.
class FakeMicrophoneCapture : public MicrophoneCapture {
public:
    void setSampleBufferHandler(SerialQueue& queue, BufferHandler handler) override {
        queue_ = &queue;
        handler_ = std::move(handler);
    }
    void setDisconnectHandler(DisconnectHandler handler) override { disconnect_ = std::move(handler); }
    void startRunning() override;
    void stopRunning() override {
        running_ = false;
        ++stopCalls;
    }
    [[nodiscard]] bool isRunning() const override { return running_; }

    void deliver(const SampleBufferPtr& buffer) {
        queue_->post([handler = handler_, buffer] { handler(buffer); });
    }
    void disconnect(const PlatformError& error) { disconnect_(error); }

    std::atomic<int> stopCalls{0};
    std::atomic<bool> startedOnMainThread{false};

private:
    SerialQueue* queue_ = nullptr;
    BufferHandler handler_;
    DisconnectHandler disconnect_;
    std::atomic<bool> running_{false};
};

// An int16 mono buffer of `frames` samples of `value` at `sampleRateHz`.
[[nodiscard]] SampleBufferPtr makeInt16MonoBuffer(int frames, std::int16_t value,
                                                  double sampleRateHz = 48000);

class FakeCaptureService : public CaptureService {
public:
    void requestSources(SourcesCompletion completion) override;
    std::expected<std::vector<InputDevice>, PlatformError> microphones() override {
        if (microphoneListError) {
            return std::unexpected(*microphoneListError);
        }
        return microphoneList;
    }
    std::string ownExecutableName() const override { return ownIdentifier; }
    // A watch that reports itself lost once the server's connection is said to have ended.
    struct FakeSourceWatch : SourceWatch {
        std::shared_ptr<std::atomic<bool>> lost;
        bool isLost() const override { return *lost; }
    };
    std::unique_ptr<SourceWatch> watchSources(std::function<void()> changed) override {
        sourcesChanged = std::move(changed);
        ++watchesOpened;
        watchLost = std::make_shared<std::atomic<bool>>(false);
        auto watch = std::make_unique<FakeSourceWatch>();
        watch->lost = watchLost;
        return watch;
    }
    std::unique_ptr<SystemAudioStream> makeStream(const CaptureTarget& target, const StreamSettings& settings,
                                                  std::function<void(const PlatformError&)> didStop) override;
    std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
    makeMicrophoneCapture(const InputDevice& device) override;

    // What the next stream will answer.
    std::optional<PlatformError> nextHandlerError;
    std::optional<PlatformError> nextStartError;

    std::expected<CaptureSourcesPtr, PlatformError> sources = std::make_shared<const CaptureSources>();
    std::vector<InputDevice> microphoneList;
    std::optional<PlatformError> microphoneListError;
    std::string ownIdentifier = "veltrane-recorder";
    bool microphoneAvailable = true;
    // What the watch calls when the server announces a change; set the last watch's flag to
    // say that its connection ended.
    std::function<void()> sourcesChanged;
    std::atomic<int> watchesOpened = 0;
    int listings = 0; // main thread
    std::shared_ptr<std::atomic<bool>> watchLost;

    // How many streams made here still exist.
    std::shared_ptr<std::atomic<int>> liveStreams = std::make_shared<std::atomic<int>>(0);
    // The last stream and microphone made (owned by the recorder).
    FakeSystemAudioStream* lastStream = nullptr;
    FakeMicrophoneCapture* lastMicrophone = nullptr;
};

} // namespace veltrane::test
