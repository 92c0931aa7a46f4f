#include "recording/FakeCaptureService.h"

#include <vector>

namespace veltrane::test {

std::optional<PlatformError> FakeSystemAudioStream::addStreamOutput(StreamOutputType type, SerialQueue& queue,
                                                                    OutputHandler handler) {
    if (addOutputError) {
        return addOutputError;
    }
    if (type == StreamOutputType::Audio) {
        queue_ = &queue;
        audioHandler_ = std::move(handler);
    }
    return std::nullopt;
}

void FakeSystemAudioStream::startCapture(Completion completion) {
    // Completions come from a platform thread, never the caller's.
    std::thread([completion = std::move(completion), error = startError] { completion(error); }).detach();
}

void FakeSystemAudioStream::stopCapture(Completion completion) {
    ++stopCalls;
    std::thread([completion = std::move(completion)] { completion(std::nullopt); }).detach();
}

void FakeSystemAudioStream::deliver(std::int64_t ptsFrames, int frames, float value) {
    const std::vector<float> samples(static_cast<std::size_t>(frames) * 2, value);
    auto buffer = SampleBuffer::fromInterleavedFloats(samples.data(), samples.size(), 2, 48000.0,
                                                      MediaTime::make(ptsFrames, 48000));
    queue_->post([handler = audioHandler_, buffer] { handler(buffer, StreamOutputType::Audio); });
}

void FakeCaptureService::requestShareableContent(ContentCompletion completion) {
    std::thread([completion = std::move(completion), content = content] { completion(content); }).detach();
}

std::unique_ptr<SystemAudioStream>
FakeCaptureService::makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                               std::function<void(const PlatformError&)> didStop) {
    auto stream = std::make_unique<FakeSystemAudioStream>(std::move(didStop));
    stream->addOutputError = nextAddOutputError;
    stream->startError = nextStartError;
    stream->filter = filter;
    lastStream = stream.get();
    lastConfiguration = configuration;
    return stream;
}

std::expected<std::unique_ptr<MicrophoneCapture>, PlatformError>
FakeCaptureService::makeMicrophoneCapture(const CaptureDevice&) {
    return std::unexpected(PlatformError{"Fake", -1, "no microphone in this fake", nullptr});
}

} // namespace veltrane::test
