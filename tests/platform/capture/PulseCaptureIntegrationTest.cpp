// Capture against a real private sound server. Run through scripts/with-pulse.sh, which
// provides "virt_out" (VirtualOutput, 48 kHz stereo) and a 440 Hz virtual microphone
// "virt_mic" (VirtualMic, 44.1 kHz s16le mono), and points PULSE_SERVER at them.

#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/dispatch/SerialQueue.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace veltrane {
namespace {

using namespace std::chrono_literals;

constexpr auto kBound = 20s; // generous bound for anything asynchronous

// --- helpers ----------------------------------------------------------------------------

std::string runCommand(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(5000);
        ADD_FAILURE() << "command timed out: " << program.toStdString();
        return {};
    }
    return process.readAllStandardOutput().trimmed().toStdString();
}

std::string pactl(const QStringList& arguments) {
    return runCommand("timeout", QStringList{"10", "pactl"} + arguments);
}

// A tone played on virt_out by a program named `client`, for `seconds`.
class Tone {
public:
    Tone(int frequency, double seconds, const QString& client) {
        process_.start("bash", {QStringLiteral(VELTRANE_SCRIPTS_DIR) + "/play-tone.sh",
                                QString::number(frequency), QString::number(seconds), client});
        process_.waitForStarted(10000);
    }
    ~Tone() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }
    bool waitForEnd() { return process_.waitForFinished(30000); }

private:
    QProcess process_;
};

template <typename T> std::optional<T> await(std::future<T>& future) {
    if (future.wait_for(kBound) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

std::optional<RunningApplication> waitForApplication(PulseCaptureService& service, const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto content = service.shareableContent();
        if (content) {
            for (const auto& app : (*content)->applications) {
                if (app.applicationName == name) {
                    return app;
                }
            }
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
}

OutputDevice virtualOutput(PulseCaptureService& service) {
    const auto content = service.shareableContent();
    EXPECT_TRUE(content.has_value());
    if (content) {
        for (const auto& display : (*content)->displays) {
            if (display.name == "virt_out") {
                return display;
            }
        }
    }
    ADD_FAILURE() << "virt_out not listed";
    return {};
}

// Collects what a stream delivers, on the queue it was given.
struct Collector {
    std::mutex mutex;
    std::vector<float> samples; // interleaved stereo
    std::int64_t frames = 0;
    std::int64_t nextPts = 0;
    int discontinuities = 0;
    int wrongFormat = 0;
    std::atomic<int> buffers = 0;

    void take(const SampleBufferPtr& buffer) {
        std::lock_guard lock(mutex);
        const auto& format = buffer->format();
        if (!format || *format != StreamDescription::interleavedFloat(48000, 2) ||
            buffer->presentationTime().timescale != 48000) {
            ++wrongFormat;
        }
        if (buffer->presentationTime().value != nextPts) {
            ++discontinuities;
        }
        nextPts = buffer->presentationTime().value + buffer->numSamples();
        frames += buffer->numSamples();
        const auto* data = reinterpret_cast<const float*>(buffer->data().data());
        samples.insert(samples.end(), data, data + buffer->data().size() / sizeof(float));
        ++buffers;
    }
    std::int64_t frameCount() {
        std::lock_guard lock(mutex);
        return frames;
    }
};

// Power of one frequency in the left channel (Goertzel), relative to the signal's length.
double toneLevel(const std::vector<float>& stereo, std::size_t firstFrame, std::size_t frameCount,
                 double frequency) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / 48000.0);
    double s1 = 0;
    double s2 = 0;
    const std::size_t end = std::min(stereo.size() / 2, firstFrame + frameCount);
    for (std::size_t i = firstFrame; i < end; ++i) {
        const double s0 = stereo[2 * i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    const double n = static_cast<double>(end > firstFrame ? end - firstFrame : 1);
    return std::sqrt(power) / n * 2.0; // about the amplitude of that component
}

struct RunningStream {
    std::unique_ptr<SystemAudioStream> stream;
    std::promise<PlatformError> stopped;
    std::future<PlatformError> stoppedFuture = stopped.get_future();
    std::atomic<int> stopCalls = 0;
};

std::unique_ptr<RunningStream> makeStream(PulseCaptureService& service, const ContentFilter& filter,
                                          SerialQueue& queue, Collector& collector) {
    auto running = std::make_unique<RunningStream>();
    RunningStream* raw = running.get();
    running->stream = service.makeStream(filter, StreamConfiguration{}, [raw](const PlatformError& error) {
        if (raw->stopCalls++ == 0) {
            raw->stopped.set_value(error);
        }
    });
    EXPECT_FALSE(running->stream->addStreamOutput(StreamOutputType::screen, queue,
                                                  [](const SampleBufferPtr&, StreamOutputType) {}));
    EXPECT_FALSE(running->stream->addStreamOutput(
        StreamOutputType::audio, queue, [&collector](const SampleBufferPtr& buffer, StreamOutputType type) {
            EXPECT_EQ(type, StreamOutputType::audio);
            collector.take(buffer);
        }));
    return running;
}

std::optional<PlatformError> startAndWait(SystemAudioStream& stream) {
    std::promise<std::optional<PlatformError>> done;
    auto future = done.get_future();
    stream.startCapture([&done](const std::optional<PlatformError>& error) { done.set_value(error); });
    const auto result = await(future);
    if (!result) {
        return PlatformError{"test", -1, "start did not complete", nullptr};
    }
    return *result;
}

void stopAndWait(SystemAudioStream& stream) {
    std::promise<std::optional<PlatformError>> done;
    auto future = done.get_future();
    stream.stopCapture([&done](const std::optional<PlatformError>& error) { done.set_value(error); });
    const auto result = await(future);
    ASSERT_TRUE(result.has_value()) << "stop did not complete";
    EXPECT_FALSE(result->has_value()) << (*result)->fullDescription();
}

class PulseCaptureIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        const char* server = std::getenv("PULSE_SERVER");
        if (!server || std::string(server).find("veltrane-pulse") == std::string::npos) {
            GTEST_SKIP() << "run through scripts/with-pulse.sh (needs its private sound server)";
        }
    }

    PulseCaptureService service_;
    SerialQueue queue_{"test.capture.queue"};
};

// --- listing ----------------------------------------------------------------------------

TEST_F(PulseCaptureIntegration, ListsTheOutputDeviceWithAnIDThatIsStableAcrossServices) {
    std::promise<std::expected<ShareableContentPtr, PlatformError>> answer;
    auto future = answer.get_future();
    service_.requestShareableContent([&answer](const auto& result) { answer.set_value(result); });
    const auto content = await(future);
    ASSERT_TRUE(content.has_value());
    ASSERT_TRUE(content->has_value()) << content->error().fullDescription();
    const auto& displays = (**content)->displays;
    const auto it =
        std::find_if(displays.begin(), displays.end(), [](const auto& d) { return d.name == "virt_out"; });
    ASSERT_NE(it, displays.end());
    EXPECT_EQ(it->description, "VirtualOutput");
    EXPECT_EQ(it->displayID, deviceIDForDeviceName("virt_out"));

    PulseCaptureService other;
    EXPECT_EQ(virtualOutput(other), *it);
}

TEST_F(PulseCaptureIntegration, ListsPlayingProgramsOncePerProcess) {
    Tone tone(440, 3, "listing-tone");
    const auto app = waitForApplication(service_, "listing-tone");
    ASSERT_TRUE(app.has_value());
    EXPECT_GT(app->processID, 0);
    EXPECT_EQ(app->bundleIdentifier, "pacat");
    const auto content = service_.shareableContent();
    ASSERT_TRUE(content.has_value());
    const auto count = std::count_if((*content)->applications.begin(), (*content)->applications.end(),
                                     [&](const auto& a) { return a.processID == app->processID; });
    EXPECT_EQ(count, 1);
}

TEST_F(PulseCaptureIntegration, ListsMicrophonesButNoMonitors) {
    const auto microphones = service_.microphones();
    ASSERT_TRUE(microphones.has_value()) << microphones.error().fullDescription();
    const auto it = std::find_if(microphones->begin(), microphones->end(),
                                 [](const auto& m) { return m.uniqueID == "virt_mic"; });
    ASSERT_NE(it, microphones->end());
    EXPECT_EQ(it->localizedName, "VirtualMic");
    for (const auto& microphone : *microphones) {
        EXPECT_EQ(microphone.uniqueID.find(".monitor"), std::string::npos) << microphone.uniqueID;
    }
}

TEST_F(PulseCaptureIntegration, OwnExecutableNameIsTheBinaryName) {
    EXPECT_EQ(service_.ownExecutableName(), "capture_pulse_integration_tests");
}

// --- display capture ----------------------------------------------------------------------

TEST_F(PulseCaptureIntegration, DisplayCaptureFollowsTheWallClockThroughToneAndSilence) {
    Collector collector;
    ContentFilter filter;
    filter.display = virtualOutput(service_);
    auto running = makeStream(service_, filter, queue_, collector);

    Tone tone(440, 3, "display-tone");
    ASSERT_TRUE(waitForApplication(service_, "display-tone").has_value());
    const auto startedAt = std::chrono::steady_clock::now();
    const auto error = startAndWait(*running->stream);
    ASSERT_FALSE(error.has_value()) << error->fullDescription();
    // The tone ends after about 3 s; the capture goes on in silence until 6 s.
    std::this_thread::sleep_until(startedAt + 6s);
    stopAndWait(*running->stream);
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    queue_.waitUntilDrained();

    std::lock_guard lock(collector.mutex);
    const double capturedSeconds = static_cast<double>(collector.frames) / 48000.0;
    EXPECT_NEAR(capturedSeconds, wallSeconds, 0.3);
    EXPECT_EQ(collector.discontinuities, 0);
    EXPECT_EQ(collector.wrongFormat, 0);
    // Half a second of the tone is a clean 440 Hz. The null device's monitor can drop a block
    // right after a recorder connects on a busy machine (the capture fills such a gap with
    // silence to keep the clock), so the cleanest half second of the tone's first two is taken.
    std::size_t onset = 0;
    while (onset < collector.samples.size() / 2 && std::abs(collector.samples[2 * onset]) < 0.01f) {
        ++onset;
    }
    constexpr std::size_t kWindowFrames = 24000;
    std::size_t toneStart = onset;
    double at440 = 0;
    for (std::size_t start = onset; start <= onset + 96000; start += 2400) {
        const double level = toneLevel(collector.samples, start, kWindowFrames, 440);
        if (level > at440) {
            at440 = level;
            toneStart = start;
        }
    }
    EXPECT_GT(at440, 0.1) << "tone from frame " << toneStart;
    EXPECT_LT(toneLevel(collector.samples, toneStart, kWindowFrames, 1000), at440 / 20);
    EXPECT_LT(toneLevel(collector.samples, toneStart, kWindowFrames, 300), at440 / 20);
    // The last second is silence.
    const std::size_t totalFrames = collector.samples.size() / 2;
    ASSERT_GT(totalFrames, 48000u * 5);
    EXPECT_LT(toneLevel(collector.samples, totalFrames - 48000, 48000, 440), 0.001);
    EXPECT_EQ(running->stopCalls, 0);
}

TEST_F(PulseCaptureIntegration, DisplayCaptureDeliversSilenceAtTheRealRateWhenNothingPlays) {
    Collector collector;
    ContentFilter filter;
    filter.display = virtualOutput(service_);
    auto running = makeStream(service_, filter, queue_, collector);
    const auto startedAt = std::chrono::steady_clock::now();
    const auto error = startAndWait(*running->stream);
    ASSERT_FALSE(error.has_value()) << error->fullDescription();
    std::this_thread::sleep_until(startedAt + 1500ms);
    const std::int64_t midway = collector.frameCount();
    std::this_thread::sleep_until(startedAt + 3s);
    stopAndWait(*running->stream);
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    queue_.waitUntilDrained();

    std::lock_guard lock(collector.mutex);
    EXPECT_GT(midway, 48000) << "silence flows while capturing, not only at the end";
    EXPECT_NEAR(static_cast<double>(collector.frames) / 48000.0, wallSeconds, 0.3);
    EXPECT_EQ(collector.discontinuities, 0);
    EXPECT_GT(collector.buffers.load(), 40) << "buffers come often enough to keep meters moving";
    for (const float sample : collector.samples) {
        ASSERT_EQ(sample, 0.0f);
    }
}

TEST_F(PulseCaptureIntegration, RemovingTheOutputDeviceStopsTheStreamWithAnError) {
    const std::string module = pactl({"load-module", "module-null-sink", "sink_name=doomed_out",
                                      "sink_properties=device.description=DoomedOutput"});
    ASSERT_FALSE(module.empty());
    OutputDevice device;
    {
        const auto content = service_.shareableContent();
        ASSERT_TRUE(content.has_value());
        for (const auto& display : (*content)->displays) {
            if (display.name == "doomed_out") {
                device = display;
            }
        }
    }
    ASSERT_EQ(device.description, "DoomedOutput");
    Collector collector;
    ContentFilter filter;
    filter.display = device;
    auto running = makeStream(service_, filter, queue_, collector);
    const auto error = startAndWait(*running->stream);
    ASSERT_FALSE(error.has_value()) << error->fullDescription();
    pactl({"unload-module", QString::fromStdString(module)});
    const auto stopped = await(running->stoppedFuture);
    ASSERT_TRUE(stopped.has_value()) << "no didStopWithError";
    EXPECT_EQ(stopped->domain, "PulseAudio");
    EXPECT_EQ(stopped->localizedDescription, "The output device DoomedOutput was removed");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(running->stopCalls, 1);
    stopAndWait(*running->stream);
}

TEST_F(PulseCaptureIntegration, StartingOnAMissingDeviceFails) {
    Collector collector;
    ContentFilter filter;
    filter.display = OutputDevice{deviceIDForDeviceName("nowhere"), "nowhere", "Nowhere"};
    auto running = makeStream(service_, filter, queue_, collector);
    const auto error = startAndWait(*running->stream);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription, "The output device Nowhere is not available");
}

TEST_F(PulseCaptureIntegration, NoCallbackRunsAfterTheStreamIsDestroyed) {
    std::atomic<int> calls = 0;
    ContentFilter filter;
    filter.display = virtualOutput(service_);
    auto stream =
        service_.makeStream(filter, StreamConfiguration{}, [&calls](const PlatformError&) { ++calls; });
    ASSERT_FALSE(stream->addStreamOutput(StreamOutputType::audio, queue_,
                                         [&calls](const SampleBufferPtr&, StreamOutputType) {
                                             std::this_thread::sleep_for(1ms);
                                             ++calls;
                                         }));
    ASSERT_FALSE(startAndWait(*stream).has_value());
    std::this_thread::sleep_for(600ms);
    std::atomic<bool> lateCompletion = false;
    stream->stopCapture([&lateCompletion](const auto&) { lateCompletion = true; });
    stream.reset();
    const int atDestruction = calls.load();
    const bool completedAtDestruction = lateCompletion.load();
    std::this_thread::sleep_for(300ms);
    queue_.waitUntilDrained();
    EXPECT_GT(atDestruction, 0);
    EXPECT_EQ(calls.load(), atDestruction);
    EXPECT_EQ(lateCompletion.load(), completedAtDestruction);
}

// --- application capture ------------------------------------------------------------------

TEST_F(PulseCaptureIntegration, ApplicationCaptureHearsOnlyThatProgram) {
    Tone toneA(440, 5, "tone-a");
    Tone toneB(1000, 5, "tone-b");
    const auto appA = waitForApplication(service_, "tone-a");
    ASSERT_TRUE(appA.has_value());
    ASSERT_TRUE(waitForApplication(service_, "tone-b").has_value());

    Collector collector;
    ContentFilter filter;
    filter.mode = ContentFilter::Mode::displayIncludingApplications;
    filter.display = virtualOutput(service_);
    filter.applications = {*appA};
    auto running = makeStream(service_, filter, queue_, collector);
    const auto startedAt = std::chrono::steady_clock::now();
    const auto error = startAndWait(*running->stream);
    ASSERT_FALSE(error.has_value()) << error->fullDescription();
    std::this_thread::sleep_until(startedAt + 2500ms);
    stopAndWait(*running->stream);
    const double wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - startedAt).count();
    queue_.waitUntilDrained();

    std::lock_guard lock(collector.mutex);
    EXPECT_NEAR(static_cast<double>(collector.frames) / 48000.0, wallSeconds, 0.3);
    EXPECT_EQ(collector.discontinuities, 0);
    const double at440 = toneLevel(collector.samples, 12000, 72000, 440);
    const double at1000 = toneLevel(collector.samples, 12000, 72000, 1000);
    EXPECT_GT(at440, 0.1);
    EXPECT_LT(at1000, 0.001) << "the other program leaked into the capture";
    EXPECT_EQ(running->stopCalls, 0);
}

TEST_F(PulseCaptureIntegration, ApplicationCaptureEndsWhenTheProgramEnds) {
    Tone tone(660, 1.5, "short-tone");
    const auto app = waitForApplication(service_, "short-tone");
    ASSERT_TRUE(app.has_value());
    Collector collector;
    ContentFilter filter;
    filter.mode = ContentFilter::Mode::displayIncludingApplications;
    filter.display = virtualOutput(service_);
    filter.applications = {*app};
    auto running = makeStream(service_, filter, queue_, collector);
    const auto error = startAndWait(*running->stream);
    ASSERT_FALSE(error.has_value()) << error->fullDescription();
    ASSERT_TRUE(tone.waitForEnd());
    const auto stopped = await(running->stoppedFuture);
    ASSERT_TRUE(stopped.has_value()) << "no didStopWithError";
    EXPECT_EQ(stopped->localizedDescription, "The application ended");
    stopAndWait(*running->stream);
    queue_.waitUntilDrained();
    std::lock_guard lock(collector.mutex);
    EXPECT_GT(toneLevel(collector.samples, 0, 24000, 660), 0.1);
}

// --- microphone -----------------------------------------------------------------------------

TEST_F(PulseCaptureIntegration, MicrophoneDeliversItsOwnFormat) {
    auto capture = service_.makeMicrophoneCapture(CaptureDevice{"virt_mic", "VirtualMic"});
    ASSERT_TRUE(capture.has_value()) << capture.error().fullDescription();
    std::mutex mutex;
    std::vector<std::int16_t> samples;
    std::vector<StreamDescription> formats;
    std::int64_t nextPts = 0;
    int discontinuities = 0;
    (*capture)->setSampleBufferHandler(queue_, [&](const SampleBufferPtr& buffer) {
        std::lock_guard lock(mutex);
        if (buffer->format()) {
            formats.push_back(*buffer->format());
        }
        if (buffer->presentationTime().value != nextPts || buffer->presentationTime().timescale != 44100) {
            ++discontinuities;
        }
        nextPts = buffer->presentationTime().value + buffer->numSamples();
        const auto* data = reinterpret_cast<const std::int16_t*>(buffer->data().data());
        samples.insert(samples.end(), data, data + buffer->data().size() / 2);
    });
    (*capture)->startRunning();
    ASSERT_TRUE((*capture)->isRunning());
    std::this_thread::sleep_for(1500ms);
    (*capture)->stopRunning();
    EXPECT_FALSE((*capture)->isRunning());
    queue_.waitUntilDrained();

    std::lock_guard lock(mutex);
    ASSERT_FALSE(formats.empty());
    const StreamDescription& format = formats.front();
    EXPECT_EQ(format.sampleRate, 44100.0);
    EXPECT_EQ(format.channelsPerFrame, 1u);
    EXPECT_EQ(format.bitsPerChannel, 16u);
    EXPECT_EQ(format.bytesPerFrame, 2u);
    EXPECT_EQ(format.formatFlags, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
    EXPECT_EQ(discontinuities, 0);
    EXPECT_GT(samples.size(), 44100u / 2);
    const auto peak = std::max_element(samples.begin(), samples.end());
    EXPECT_GT(*peak, 3000) << "the virtual microphone's tone did not come through";
}

TEST_F(PulseCaptureIntegration, MicrophoneRemovalCallsTheDisconnectHandler) {
    const std::string module =
        pactl({"load-module", "module-remap-source", "source_name=doomed_mic", "master=virt_out.monitor",
               "source_properties=device.description=DoomedMic"});
    ASSERT_FALSE(module.empty());
    auto capture = service_.makeMicrophoneCapture(CaptureDevice{"doomed_mic", "DoomedMic"});
    ASSERT_TRUE(capture.has_value()) << capture.error().fullDescription();
    std::promise<PlatformError> disconnected;
    auto future = disconnected.get_future();
    std::atomic<int> calls = 0;
    (*capture)->setDisconnectHandler([&](const PlatformError& error) {
        if (calls++ == 0) {
            disconnected.set_value(error);
        }
    });
    (*capture)->startRunning();
    ASSERT_TRUE((*capture)->isRunning());
    pactl({"unload-module", QString::fromStdString(module)});
    const auto error = await(future);
    ASSERT_TRUE(error.has_value()) << "no disconnect";
    EXPECT_EQ(error->domain, "PulseAudio");
    EXPECT_NE(error->localizedDescription.find("DoomedMic"), std::string::npos)
        << error->localizedDescription;
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(calls.load(), 1);
}

TEST_F(PulseCaptureIntegration, UnknownMicrophoneIsAnError) {
    const auto capture = service_.makeMicrophoneCapture(CaptureDevice{"no_such_mic", "Ghost"});
    ASSERT_FALSE(capture.has_value());
    EXPECT_EQ(capture.error().localizedDescription, "The microphone Ghost is not available");
}

// --- no server ----------------------------------------------------------------------------

class NoSoundServer : public PulseCaptureIntegration {
protected:
    void SetUp() override {
        PulseCaptureIntegration::SetUp();
        if (IsSkipped()) {
            return;
        }
        saved_ = std::getenv("PULSE_SERVER");
        setenv("PULSE_SERVER", "unix:/nonexistent/veltrane/native", 1);
    }
    void TearDown() override {
        if (!saved_.empty()) {
            setenv("PULSE_SERVER", saved_.c_str(), 1);
        }
    }
    std::string saved_;
};

TEST_F(NoSoundServer, EverythingFailsQuicklyWithAnError) {
    const auto begin = std::chrono::steady_clock::now();

    std::promise<std::expected<ShareableContentPtr, PlatformError>> answer;
    auto future = answer.get_future();
    service_.requestShareableContent([&answer](const auto& result) { answer.set_value(result); });
    const auto content = await(future);
    ASSERT_TRUE(content.has_value()) << "listing hung";
    ASSERT_FALSE(content->has_value());
    EXPECT_EQ(content->error().domain, "PulseAudio");
    EXPECT_TRUE(content->error().localizedDescription.starts_with("Could not connect to the sound server: "))
        << content->error().localizedDescription;

    const auto microphones = service_.microphones();
    ASSERT_FALSE(microphones.has_value());
    EXPECT_TRUE(
        microphones.error().localizedDescription.starts_with("Could not connect to the sound server"));

    ContentFilter filter;
    filter.display = OutputDevice{deviceIDForDeviceName("virt_out"), "virt_out", "VirtualOutput"};
    Collector collector;
    auto running = makeStream(service_, filter, queue_, collector);
    const auto error = startAndWait(*running->stream);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->localizedDescription.starts_with("Could not connect to the sound server"));
    EXPECT_NE(error->code, 0);

    EXPECT_FALSE(service_.makeMicrophoneCapture(CaptureDevice{"virt_mic", "VirtualMic"}).has_value());
    // A bound, not a measurement: an absent server must not cost the 5 s time limits.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 10s);
}

// Registered as its own test run (it ends the private server).
TEST_F(PulseCaptureIntegration, ServerExitStopsStreamAndMicrophone) {
    Collector collector;
    ContentFilter filter;
    filter.display = virtualOutput(service_);
    auto running = makeStream(service_, filter, queue_, collector);
    ASSERT_FALSE(startAndWait(*running->stream).has_value());
    auto capture = service_.makeMicrophoneCapture(CaptureDevice{"virt_mic", "VirtualMic"});
    ASSERT_TRUE(capture.has_value()) << capture.error().fullDescription();
    std::promise<PlatformError> disconnected;
    auto micFuture = disconnected.get_future();
    (*capture)->setDisconnectHandler(
        [&disconnected](const PlatformError& error) { disconnected.set_value(error); });
    (*capture)->startRunning();
    ASSERT_TRUE((*capture)->isRunning());

    pactl({"exit"});
    const auto stopped = await(running->stoppedFuture);
    ASSERT_TRUE(stopped.has_value()) << "no didStopWithError";
    EXPECT_EQ(stopped->domain, "PulseAudio");
    EXPECT_EQ(stopped->localizedDescription, "Connection terminated");
    const auto micError = await(micFuture);
    ASSERT_TRUE(micError.has_value()) << "no microphone disconnect";
    EXPECT_EQ(micError->localizedDescription, "Connection terminated");
    stopAndWait(*running->stream);
    (*capture)->stopRunning();
    // Nothing hangs once the server is gone.
    EXPECT_FALSE(service_.shareableContent().has_value());
}

} // namespace
} // namespace veltrane
