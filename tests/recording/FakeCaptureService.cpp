#include "recording/FakeCaptureService.h"

#include "platform/media/PcmBuffer.h"

#include <QCoreApplication>
#include <QThread>

#include <cstring>
#include <thread>
#include <vector>

namespace veltrane::test {

std::expected<void, PlatformError> FakeSystemAudioStream::setAudioHandler(SerialQueue& queue,
                                                                          AudioHandler handler) {
    if (handlerError) {
        return std::unexpected(*handlerError);
    }
    queue_ = &queue;
    audioHandler_ = std::move(handler);
    return {};
}

// Completions come from a platform thread, never the caller's.
void FakeSystemAudioStream::startCapture(Completion completion) {
    std::thread([completion = std::move(completion), error = startError] {
        completion(error ? std::expected<void, PlatformError>(std::unexpected(*error))
                         : std::expected<void, PlatformError>());
    }).detach();
}

void FakeSystemAudioStream::stopCapture(Completion completion) {
    std::thread([completion = std::move(completion)] { completion({}); }).detach();
}

void FakeSystemAudioStream::deliver(std::int64_t ptsFrames, int frames, float value) {
    const std::vector<float> samples(static_cast<std::size_t>(frames) * 2, value);
    auto buffer = SampleBuffer::fromInterleavedFloats(samples.data(), samples.size(), 2, 48000.0,
                                                      MediaTime::make(ptsFrames, 48000));
    queue_->post([handler = audioHandler_, buffer] { handler(buffer); });
}

void FakeMicrophoneCapture::startRunning() {
    startedOnMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    running_ = true;
}

void FakeCaptureService::requestSources(SourcesCompletion completion) {
    ++listings;
    // Every listing is a snapshot of its own, as the sound server's are.
    std::expected<CaptureSourcesPtr, PlatformError> answer = sources;
    if (answer && *answer) {
        answer = std::make_shared<const CaptureSources>(**answer);
    }
    std::thread([completion = std::move(completion), answer] { completion(answer); }).detach();
}

std::unique_ptr<SystemAudioStream>
FakeCaptureService::makeStream(const CaptureTarget& target, const StreamSettings&,
                               std::function<void(const PlatformError&)> didStop) {
    auto stream = std::make_unique<FakeSystemAudioStream>(std::move(didStop), liveStreams);
    stream->handlerError = nextHandlerError;
    stream->startError = nextStartError;
    stream->target = target;
    lastStream = stream.get();
    return stream;
}

std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
FakeCaptureService::makeMicrophoneCapture(const InputDevice&) {
    if (!microphoneAvailable) {
        return std::unexpected(PlatformError{"Fake", -1, "The microphone is not available", nullptr});
    }
    auto microphone = std::make_unique<FakeMicrophoneCapture>();
    lastMicrophone = microphone.get();
    return microphone;
}

SampleBufferPtr makeInt16MonoBuffer(int frames, std::int16_t value, double sampleRateHz) {
    std::vector<std::byte> bytes(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        std::memcpy(bytes.data() + 2 * i, &value, 2);
    }
    return std::make_shared<const SampleBuffer>(
        PcmBuffer::Format{PcmCommonFormat::int16, sampleRateHz, 1, true}.streamDescription(),
        std::move(bytes), frames, MediaTime::make(0, 48000));
}

} // namespace veltrane::test
