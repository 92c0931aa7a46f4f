#include "recording/AudioRecorder.h"

#include "recording/FakeCaptureService.h"
#include "storage/FakeMediaFileWriter.h"
#include "support/EventLoopWait.h"
#include "support/StdoutCapture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::waitUntil;

class MicrophoneFixture : public ::testing::Test {
protected:
    void SetUp() override {
        auto content = std::make_shared<ShareableContent>();
        content->displays.push_back(OutputDevice{4242, "virt_out", "VirtualOutput"});
        recorder.setSelectedSystemSource(SystemSource::listFrom(content).at(0));
        recorder.setSelectedMicrophone(CaptureDevice{"virt_mic", "VirtualMic"});
    }

    void start() {
        recorder.startRecording(std::filesystem::path(folder.path().toStdString()), QStringLiteral("desk1"),
                                RecordingFormat::wav, 10.0);
        ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
        ASSERT_NE(capture->lastMicrophone, nullptr);
        ASSERT_TRUE(waitUntil([&] { return capture->lastMicrophone->isRunning(); }));
    }

    void drain() { recorder.processingQueue().waitUntilDrained(); }

    bool stopAndSettle() {
        recorder.stopRecording();
        bool stopped = false;
        recorder.whenStopped([&] { stopped = true; });
        return waitUntil([&] { return stopped; });
    }

    QTemporaryDir folder;
    std::shared_ptr<test::FakeCaptureService> capture = std::make_shared<test::FakeCaptureService>();
    std::shared_ptr<test::FakeMediaFileWriterFactory> writers =
        std::make_shared<test::FakeMediaFileWriterFactory>();
    AudioRecorder recorder{capture, writers};
};

TEST_F(MicrophoneFixture, MicrophoneSamplesAreNormalisedQueuedAndMixed) {
    test::StdoutCapture log;
    start();
    EXPECT_FALSE(capture->lastMicrophone->startedOnMainThread.load());
    // A quarter of full scale, 44.1 kHz int16: resampled to 48 kHz before mixing.
    for (int i = 0; i < 10; ++i) {
        capture->lastMicrophone->deliver(test::makeInt16MonoBuffer(441, 8192, 44100));
    }
    drain();
    capture->lastStream->deliver(0, 480, 0.0f);
    drain();
    ASSERT_TRUE(waitUntil([&] { return recorder.micLevel() > 0.0; }));
    ASSERT_TRUE(stopAndSettle());

    EXPECT_EQ(log.count("🎤 Mic input: "), 1u);
    EXPECT_TRUE(log.contains("✅ Microphone configured: VirtualMic"));
    EXPECT_TRUE(log.contains("✅ Recording started (with microphone mixing)"));
    const auto appended = writers->writer(0)->appendedBuffers();
    ASSERT_EQ(appended.size(), 1u);
    const auto* samples = reinterpret_cast<const float*>(appended[0]->data().data());
    // Past the resampler's start-up, both channels carry the microphone's quarter scale.
    EXPECT_NEAR(samples[2 * 400], 0.25f, 0.01f);
    EXPECT_EQ(samples[2 * 400], samples[2 * 400 + 1]);
}

TEST_F(MicrophoneFixture, MicrophoneJoinsWithALeadAndRunningDryIsLogged) {
    test::StdoutCapture log;
    start();
    for (int i = 0; i < 10; ++i) {
        capture->lastMicrophone->deliver(test::makeInt16MonoBuffer(441, 8192, 44100));
    }
    drain();
    for (int i = 0; i < 9; ++i) {
        capture->lastStream->deliver(i * 480, 480, 0.0f);
    }
    drain();
    ASSERT_TRUE(stopAndSettle());
    EXPECT_EQ(log.count("⚠️ Mic queue ran dry (1 so far)"), 1u);
    // About 100 ms were queued; mixing starts with the 80 ms lead, which fills eight buffers.
    const auto appended = writers->writer(0)->appendedBuffers();
    ASSERT_EQ(appended.size(), 9u);
    EXPECT_NEAR(reinterpret_cast<const float*>(appended[7]->data().data())[959], 0.25f, 0.01f);
    EXPECT_EQ(reinterpret_cast<const float*>(appended[8]->data().data())[0], 0.0f);
}

TEST_F(MicrophoneFixture, ConversionFailuresAreCountedAndLoggedSparingly) {
    test::StdoutCapture log;
    start();
    StreamDescription bigEndian;
    bigEndian.sampleRate = 48000;
    bigEndian.formatID = kAudioFormatLinearPCM;
    bigEndian.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsBigEndian;
    bigEndian.channelsPerFrame = 1;
    bigEndian.bitsPerChannel = 16;
    bigEndian.bytesPerFrame = 2;
    const auto unreadable = std::make_shared<const SampleBuffer>(bigEndian, std::vector<std::byte>(960), 480,
                                                                 MediaTime::make(0, 48000));
    for (int i = 0; i < 400; ++i) {
        capture->lastMicrophone->deliver(unreadable);
    }
    drain();
    EXPECT_TRUE(log.contains("⚠️ Mic buffer conversion failed (1 so far)"));
    EXPECT_TRUE(log.contains("⚠️ Mic buffer conversion failed (200 so far)"));
    EXPECT_TRUE(log.contains("⚠️ Mic buffer conversion failed (400 so far)"));
    EXPECT_EQ(log.count("⚠️ Mic buffer conversion failed"), 3u);
    EXPECT_EQ(log.count("🎤 Mic input: "), 1u);
    ASSERT_TRUE(stopAndSettle());
}

TEST_F(MicrophoneFixture, LateMicrophoneBuffersAfterTheStopAreIgnored) {
    start();
    test::FakeMicrophoneCapture* microphone = capture->lastMicrophone;
    capture->lastStream->deliver(0, 480, 0.1f);
    drain();
    recorder.stopRecording();
    drain();
    EXPECT_EQ(microphone->stopCalls.load(), 1);
    // A buffer still on its way from the platform: unreadable, so it would be counted and
    // logged if the intake still took it.
    StreamDescription unsupported;
    unsupported.sampleRate = 48000;
    unsupported.formatID = kAudioFormatMPEG4AAC;
    unsupported.channelsPerFrame = 1;
    test::StdoutCapture log;
    microphone->deliver(std::make_shared<const SampleBuffer>(unsupported, std::vector<std::byte>(64), 1,
                                                             MediaTime::make(0, 48000)));
    drain();
    EXPECT_FALSE(log.contains("Mic buffer conversion failed"));
    EXPECT_FALSE(log.contains("🎤 Mic input: "));
}

TEST_F(MicrophoneFixture, UnpluggedMicrophoneLeavesTheRecordingRunning) {
    test::StdoutCapture log;
    start();
    capture->lastStream->deliver(0, 480, 0.1f);
    capture->lastMicrophone->disconnect(
        PlatformError{"PulseAudio", 5, "The microphone VirtualMic was removed", nullptr});
    capture->lastStream->deliver(480, 480, 0.1f);
    drain();
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_TRUE(recorder.errorMessage().isNull());
    EXPECT_TRUE(log.contains("⚠️ Microphone VirtualMic stopped delivering audio"));
    ASSERT_TRUE(stopAndSettle());
    EXPECT_TRUE(recorder.errorMessage().isNull());
    EXPECT_EQ(writers->writer(0)->appendedBuffers().size(), 2u);
}

TEST_F(MicrophoneFixture, MissingMicrophoneDeviceMeansSystemAudioOnly) {
    capture->microphoneAvailable = false;
    test::StdoutCapture log;
    recorder.startRecording(std::filesystem::path(folder.path().toStdString()), QStringLiteral("desk1"),
                            RecordingFormat::wav, 10.0);
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    capture->lastStream->deliver(0, 480, 0.1f);
    drain();
    ASSERT_TRUE(stopAndSettle());
    EXPECT_TRUE(log.contains("✅ Microphone configured: VirtualMic"));
    EXPECT_TRUE(log.contains("✅ Recording started (system audio only)"));
}

} // namespace
} // namespace veltrane
