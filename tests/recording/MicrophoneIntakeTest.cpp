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

// A quarter of full scale, 44.1 kHz int16: resampled to 48 kHz, queued, and mixed once the lead is in.
TEST_F(MicrophoneFixture, MicrophoneJoinsWithALeadAndRunningDryIsLogged) {
    test::StdoutCapture log;
    start();
    EXPECT_FALSE(capture->lastMicrophone->startedOnMainThread.load());
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
    EXPECT_EQ(log.count("🎤 Mic input: "), 1u);
    EXPECT_TRUE(log.contains("✅ Recording started (with microphone mixing)"));
    // About 100 ms were queued; mixing starts with the 80 ms lead, which fills eight buffers.
    const auto appended = writers->writer(0)->state().appended;
    ASSERT_EQ(appended.size(), 9u);
    const auto* mixed = reinterpret_cast<const float*>(appended[7]->data().data());
    EXPECT_NEAR(mixed[958], 0.25f, 0.01f);
    EXPECT_EQ(mixed[958], mixed[959]) << "both channels carry the microphone";
    EXPECT_EQ(reinterpret_cast<const float*>(appended[8]->data().data())[0], 0.0f);
}

// Big-endian buffers cannot be read: each is counted, a few are logged, and after the stop a
// buffer still on its way from the platform is not even looked at.
TEST_F(MicrophoneFixture, UnreadableBuffersAreCountedLoggedSparinglyAndIgnoredAfterTheStop) {
    test::StdoutCapture log;
    start();
    StreamDescription bigEndian =
        PcmBuffer::Format{PcmCommonFormat::int16, 48000, 1, true}.streamDescription();
    bigEndian.formatFlags |= kAudioFormatFlagIsBigEndian;
    const auto unreadable = std::make_shared<const SampleBuffer>(bigEndian, std::vector<std::byte>(960), 480,
                                                                 MediaTime::make(0, 48000));
    test::FakeMicrophoneCapture* microphone = capture->lastMicrophone;
    for (int i = 0; i < 400; ++i) {
        microphone->deliver(unreadable);
    }
    drain();
    for (const char* count : {"(1 so far)", "(200 so far)", "(400 so far)"}) {
        EXPECT_TRUE(log.contains(std::string("⚠️ Mic buffer conversion failed ") + count)) << count;
    }
    EXPECT_EQ(log.count("⚠️ Mic buffer conversion failed"), 3u);
    EXPECT_EQ(log.count("🎤 Mic input: "), 1u);
    capture->lastStream->deliver(0, 480, 0.1f);
    drain();
    recorder.stopRecording();
    drain();
    EXPECT_EQ(microphone->stopCalls.load(), 1);
    for (int i = 0; i < 200; ++i) {
        microphone->deliver(unreadable); // taken in, the 600th would be logged
    }
    drain();
    EXPECT_EQ(log.count("⚠️ Mic buffer conversion failed"), 3u);
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
    EXPECT_EQ(writers->writer(0)->state().appended.size(), 2u);
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
