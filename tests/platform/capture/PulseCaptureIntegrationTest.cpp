// How capture ends, against a real private sound server (scripts/with-pulse.sh or
// scripts/with-pipewire.sh: "virt_out", VirtualOutput, and a virtual microphone "virt_mic",
// VirtualMic). What a recording hears is shown by the command line's end-to-end tests.

#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/capture/pulse/PulseSystemAudioStream.h"
#include "platform/dispatch/SerialQueue.h"
#include "support/TonePlayer.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace veltrane {
namespace {

using namespace std::chrono_literals;
using test::Tone;

constexpr auto kBound = 20s; // generous bound for anything asynchronous

std::string pactl(const QStringList& arguments) {
    QProcess process;
    process.start("timeout", QStringList{"10", "pactl"} + arguments);
    EXPECT_TRUE(process.waitForFinished(15000)) << "pactl timed out";
    return process.readAllStandardOutput().trimmed().toStdString();
}

template <typename T> std::optional<T> await(std::future<T>& future, std::chrono::seconds bound = kBound) {
    if (future.wait_for(bound) != std::future_status::ready) {
        return std::nullopt;
    }
    return future.get();
}

std::optional<RunningApplication> waitForApplication(PulseCaptureService& service, const std::string& name) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (std::chrono::steady_clock::now() < deadline) {
        if (const auto content = service.sources()) {
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

OutputDevice outputDevice(PulseCaptureService& service, const std::string& name = "virt_out") {
    if (const auto content = service.sources()) {
        for (const auto& output : (*content)->outputs) {
            if (output.name == name) {
                return output;
            }
        }
    }
    ADD_FAILURE() << name << " not listed";
    return {};
}

CaptureTarget wholeDevice(OutputDevice device) {
    CaptureTarget target;
    target.output = std::move(device);
    return target;
}

// Keeps the first error a stream or a microphone reports, and counts the reports.
struct FirstError {
    std::promise<PlatformError> promise;
    std::future<PlatformError> future = promise.get_future();
    std::atomic<int> calls = 0;

    void operator()(const PlatformError& error) {
        if (calls++ == 0) {
            promise.set_value(error);
        }
    }
};

struct RunningStream {
    std::unique_ptr<SystemAudioStream> stream;
    FirstError stopped;
};

struct RunningMicrophone {
    std::shared_ptr<MicrophoneCapture> capture;
    FirstError disconnected;
};

// Starts or stops the stream and waits for its completion; an error when it does not complete.
std::optional<PlatformError> complete(SystemAudioStream& stream,
                                      void (SystemAudioStream::*call)(SystemAudioStream::Completion)) {
    auto done = std::make_shared<std::promise<std::optional<PlatformError>>>();
    auto future = done->get_future();
    (stream.*call)([done](const std::expected<void, PlatformError>& result) {
        done->set_value(result ? std::nullopt : std::optional(result.error()));
    });
    const auto result = await(future);
    return result ? *result : PlatformError{"test", -1, "did not complete", nullptr};
}

std::optional<PlatformError> startAndWait(SystemAudioStream& stream) {
    return complete(stream, &SystemAudioStream::startCapture);
}

void stopAndWait(SystemAudioStream& stream) {
    const auto error = complete(stream, &SystemAudioStream::stopCapture);
    EXPECT_FALSE(error.has_value()) << error->fullDescription();
}

class PulseCaptureIntegration : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("VELTRANE_SOUND_SERVER")) {
            GTEST_SKIP() << "run through scripts/with-pulse.sh or scripts/with-pipewire.sh (needs a private "
                            "sound server)";
        }
    }

    // A stream whose audio goes nowhere.
    std::unique_ptr<RunningStream> makeStream(const CaptureTarget& filter) {
        auto running = std::make_unique<RunningStream>();
        running->stream =
            service_.makeStream(filter, StreamSettings{},
                                [raw = running.get()](const PlatformError& error) { raw->stopped(error); });
        EXPECT_TRUE(running->stream->setAudioHandler(queue_, [](const SampleBufferPtr&) {}));
        return running;
    }

    std::unique_ptr<RunningMicrophone> startMicrophone(const InputDevice& device) {
        auto capture = service_.makeMicrophoneCapture(device);
        EXPECT_TRUE(capture.has_value()) << capture.error().fullDescription();
        if (!capture) {
            return nullptr;
        }
        auto running = std::make_unique<RunningMicrophone>();
        running->capture = std::move(*capture);
        running->capture->setDisconnectHandler(
            [raw = running.get()](const PlatformError& error) { raw->disconnected(error); });
        running->capture->startRunning();
        EXPECT_TRUE(running->capture->isRunning());
        return running;
    }

    // The device's stream and microphone both report their end once, with these texts.
    static void expectStopped(RunningStream& running, RunningMicrophone& microphone,
                              const std::string& streamText, const std::string& microphoneText,
                              std::chrono::seconds bound = kBound) {
        const auto stopped = await(running.stopped.future, bound);
        ASSERT_TRUE(stopped.has_value()) << "no didStopWithError";
        EXPECT_EQ(stopped->domain, "PulseAudio");
        EXPECT_EQ(stopped->localizedDescription, streamText);
        const auto micError = await(microphone.disconnected.future);
        ASSERT_TRUE(micError.has_value()) << "no microphone disconnect";
        EXPECT_EQ(micError->domain, "PulseAudio");
        EXPECT_NE(micError->localizedDescription.find(microphoneText), std::string::npos)
            << micError->localizedDescription;
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(running.stopped.calls, 1);
        EXPECT_EQ(microphone.disconnected.calls, 1);
        stopAndWait(*running.stream);
    }

    PulseCaptureService service_;
    SerialQueue queue_{"test.capture.queue"};
};

TEST_F(PulseCaptureIntegration, AProgramsEndStopsItsCaptureOnce) {
    Tone toneA(440, 2.5, "tone-a");
    const auto appA = waitForApplication(service_, "tone-a");
    ASSERT_TRUE(appA.has_value());

    CaptureTarget filter = wholeDevice(outputDevice(service_));
    filter.mode = CaptureTarget::Mode::applicationsOnly;
    filter.applications = {*appA};
    // A program of unknown binary is not waited for (another process of it could not be told).
    filter.applications.front().binaryName.clear();
    auto running = makeStream(filter);
    const auto error = startAndWait(*running->stream);
    ASSERT_FALSE(error.has_value()) << error->fullDescription();
    ASSERT_TRUE(toneA.waitForEnd());
    const auto stopped = await(running->stopped.future);
    ASSERT_TRUE(stopped.has_value()) << "the program's end did not stop the capture";
    EXPECT_EQ(stopped->localizedDescription, "The application ended");
    stopAndWait(*running->stream);
    EXPECT_EQ(running->stopped.calls, 1);
}

TEST_F(PulseCaptureIntegration, RemovingADeviceStopsItsCaptureWithAnError) {
    const std::string sink = pactl({"load-module", "module-null-sink", "sink_name=doomed_out",
                                    "sink_properties=device.description=DoomedOutput"});
    const std::string source =
        pactl({"load-module", "module-remap-source", "source_name=doomed_mic", "master=virt_out.monitor",
               "source_properties=device.description=DoomedMic"});
    ASSERT_FALSE(sink.empty());
    ASSERT_FALSE(source.empty());
    const OutputDevice device = outputDevice(service_, "doomed_out");
    ASSERT_EQ(device.description, "DoomedOutput");
    auto running = makeStream(wholeDevice(device));
    ASSERT_FALSE(startAndWait(*running->stream).has_value());
    auto microphone = startMicrophone(InputDevice{"doomed_mic", "DoomedMic"});
    ASSERT_NE(microphone, nullptr);
    // Output monitors are not offered as microphones.
    const auto microphones = service_.microphones();
    ASSERT_TRUE(microphones.has_value());
    EXPECT_TRUE(std::ranges::any_of(*microphones, [](const auto& m) { return m.name == "doomed_mic"; }));
    EXPECT_TRUE(
        std::ranges::none_of(*microphones, [](const auto& m) { return m.name.ends_with(".monitor"); }));

    pactl({"unload-module", QString::fromStdString(source)});
    pactl({"unload-module", QString::fromStdString(sink)});
    expectStopped(*running, *microphone, "The output device DoomedOutput was removed", "DoomedMic");

    auto missing =
        makeStream(wholeDevice(OutputDevice{outputIDForSinkName("nowhere"), "nowhere", "Nowhere"}));
    const auto startError = startAndWait(*missing->stream);
    ASSERT_TRUE(startError.has_value());
    EXPECT_EQ(startError->localizedDescription, "The output device Nowhere is not available");
    const auto ghost = service_.makeMicrophoneCapture(InputDevice{"no_such_mic", "Ghost"});
    ASSERT_FALSE(ghost.has_value());
    EXPECT_EQ(ghost.error().localizedDescription, "The microphone Ghost is not available");
}

TEST_F(PulseCaptureIntegration, NoCallbackRunsAfterTheStreamIsDestroyed) {
    std::atomic<int> calls = 0;
    auto stream = service_.makeStream(wholeDevice(outputDevice(service_)), StreamSettings{},
                                      [&calls](const PlatformError&) { ++calls; });
    ASSERT_TRUE(stream->setAudioHandler(queue_, [&calls](const SampleBufferPtr&) {
        std::this_thread::sleep_for(1ms);
        ++calls;
    }));
    ASSERT_FALSE(startAndWait(*stream).has_value());
    for (const auto deadline = std::chrono::steady_clock::now() + kBound;
         calls == 0 && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(10ms);
    }
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

// Registered as its own test run (it ends the private server).
TEST_F(PulseCaptureIntegration, ServerExitStopsStreamAndMicrophone) {
    auto running = makeStream(wholeDevice(outputDevice(service_)));
    ASSERT_FALSE(startAndWait(*running->stream).has_value());
    auto microphone = startMicrophone(InputDevice{"virt_mic", "VirtualMic"});
    ASSERT_NE(microphone, nullptr);

    // Ended with a signal: pipewire-pulse refuses `pactl exit`.
    const char* serverPid = std::getenv("VELTRANE_SOUND_SERVER_PID");
    ASSERT_NE(serverPid, nullptr);
    ASSERT_EQ(::kill(static_cast<pid_t>(std::stol(serverPid)), SIGTERM), 0);
    // The stream waits for the server to come back before it gives up.
    expectStopped(*running, *microphone, "Connection terminated", "Connection terminated",
                  std::chrono::duration_cast<std::chrono::seconds>(PulseSystemAudioStream::kReconnectLimit) +
                      kBound);
    microphone->capture->stopRunning();
    // Nothing hangs once the server is gone.
    EXPECT_FALSE(service_.sources().has_value());
}

} // namespace
} // namespace veltrane
