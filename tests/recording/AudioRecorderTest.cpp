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

class RecorderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        auto content = std::make_shared<ShareableContent>();
        content->displays.push_back(OutputDevice{4242, "virt_out", "VirtualOutput"});
        content->applications.push_back(RunningApplication{1001, "Player", "player"});
        content->applications.push_back(RunningApplication{1002, "Recorder", "veltrane-recorder"});
        snapshot = content;
        recorder.onChunkReady = [this](const std::filesystem::path& path) { chunks.push_back(path); };
    }

    std::filesystem::path directory() const { return std::filesystem::path(folder.path().toStdString()); }

    void pick(std::size_t index) {
        const auto sources = SystemSource::listFrom(snapshot);
        recorder.setSelectedSystemSource(sources.at(index));
    }

    void start(double chunkSeconds = 1.0) {
        recorder.startRecording(directory(), QStringLiteral("studio7"), RecordingFormat::wav, chunkSeconds);
    }

    bool stopAndSettle() {
        recorder.stopRecording();
        bool stopped = false;
        recorder.whenStopped([&] { stopped = true; });
        return waitUntil([&] { return stopped; });
    }

    // 10 ms buffers of constant value covering `seconds`, starting at frame `from`.
    std::int64_t deliverSeconds(double seconds, std::int64_t from = 0, float value = 0.25f) {
        const auto buffers = static_cast<int>(seconds * 100);
        for (int i = 0; i < buffers; ++i) {
            capture->lastStream->deliver(from + static_cast<std::int64_t>(i) * 480, 480, value);
        }
        recorder.processingQueue().waitUntilDrained();
        return from + static_cast<std::int64_t>(buffers) * 480;
    }

    QTemporaryDir folder;
    ShareableContentPtr snapshot;
    std::shared_ptr<test::FakeCaptureService> capture = std::make_shared<test::FakeCaptureService>();
    std::shared_ptr<test::FakeMediaFileWriterFactory> writers =
        std::make_shared<test::FakeMediaFileWriterFactory>();
    AudioRecorder recorder{capture, writers};
    std::vector<std::filesystem::path> chunks;
};

TEST_F(RecorderFixture, StartWithoutAPickedSourceDoesNothing) {
    test::StdoutCapture log;
    start();
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(capture->lastStream, nullptr);
    EXPECT_TRUE(recorder.errorMessage().isNull());
}

TEST_F(RecorderFixture, RecordsRotatedChunksAndHandsEachToTheOwner) {
    pick(0);
    test::StdoutCapture log;
    start(1.0);
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    EXPECT_EQ(capture->lastConfiguration.sampleRate, 48000);
    EXPECT_EQ(capture->lastConfiguration.channelCount, 2);
    EXPECT_EQ(capture->lastStream->filter.mode, ContentFilter::Mode::displayExcludingApplications);
    EXPECT_EQ(capture->lastStream->filter.applications.size(), 1u); // our own process

    deliverSeconds(2.5, 48000 * 5);
    ASSERT_TRUE(stopAndSettle());
    ASSERT_TRUE(waitUntil([&] { return chunks.size() == 3; }));

    EXPECT_EQ(recorder.chunksWritten(), 3);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(recorder.recordingTime(), QStringLiteral("00:00"));
    EXPECT_TRUE(recorder.errorMessage().isNull()) << recorder.errorMessage().toStdString();
    EXPECT_TRUE(chunks[0].filename().string().ends_with("-chunk-001-START.wav"));
    EXPECT_TRUE(chunks[1].filename().string().ends_with("-chunk-002.wav"));
    EXPECT_TRUE(chunks[2].filename().string().ends_with("-chunk-003-STOP.wav"));
    EXPECT_EQ(recorder.lastChunkName().toStdString(), chunks[2].filename().string());
    for (const auto& chunk : chunks) {
        EXPECT_TRUE(std::filesystem::exists(chunk));
    }
    // Every buffer reached a writer, mixed and clipped, in order.
    std::size_t appended = 0;
    for (const auto& writer : writers->writers()) {
        appended += writer->appendedBuffers().size();
    }
    EXPECT_EQ(appended, 250u);

    EXPECT_EQ(log.count("✅ Session started"), 1u);
    EXPECT_EQ(log.count("✅ Recording started (system audio only)"), 1u);
    EXPECT_TRUE(log.contains("Source: Desktop Audio (VirtualOutput)\n"));
}

TEST_F(RecorderFixture, LevelsFollowTheBuffers) {
    pick(0);
    start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    deliverSeconds(0.1, 0, 1.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.audioLevel() == 1.0 && recorder.systemLevel() == 1.0; }));
    recorder.setSystemGain(0.0f);
    deliverSeconds(0.1, 4800, 1.0f);
    ASSERT_TRUE(waitUntil([&] { return recorder.systemLevel() == 0.0; }));
    ASSERT_TRUE(stopAndSettle());
    EXPECT_EQ(recorder.audioLevel(), 0.0);
}

TEST_F(RecorderFixture, DisplayFilterExcludesNothingWhenOurselvesAreNotListed) {
    capture->ownIdentifier = "someone-else";
    pick(0);
    test::StdoutCapture log;
    start();
    EXPECT_TRUE(log.contains("✅ Display filter created (excluding 0 apps)"));
    EXPECT_TRUE(capture->lastStream->filter.applications.empty());
}

TEST_F(RecorderFixture, ApplicationSourceCapturesOnlyThatProgram) {
    pick(1);
    test::StdoutCapture log;
    start();
    EXPECT_TRUE(log.contains("✅ App filter created for: Player"));
    EXPECT_EQ(capture->lastStream->filter.mode, ContentFilter::Mode::displayIncludingApplications);
    EXPECT_EQ(capture->lastStream->filter.applications,
              std::vector<RunningApplication>{snapshot->applications[0]});
    EXPECT_EQ(capture->lastStream->filter.display, snapshot->displays[0]);
}

TEST_F(RecorderFixture, ApplicationSourceWithoutAnyDeviceIsRejected) {
    auto content = std::make_shared<ShareableContent>();
    content->applications.push_back(RunningApplication{1001, "Player", "player"});
    recorder.setSelectedSystemSource(SystemSource::listFrom(content).at(0));
    test::StdoutCapture log;
    start();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Invalid source configuration"));
    EXPECT_TRUE(log.contains("❌ Could not create content filter"));
    EXPECT_EQ(capture->lastStream, nullptr);
}

TEST_F(RecorderFixture, OutputAndCaptureFailuresLeaveTheRecorderIdleWithAMessage) {
    pick(0);
    capture->nextAddOutputError = PlatformError{"PulseAudio", 3, "no such stream", nullptr};
    start();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Setup Error: no such stream"));

    capture->nextAddOutputError.reset();
    capture->nextStartError = PlatformError{"PulseAudio", 6, "Connection refused", nullptr};
    start();
    EXPECT_TRUE(recorder.errorMessage().isNull()); // cleared by the start
    ASSERT_TRUE(waitUntil([&] { return !recorder.errorMessage().isNull(); }));
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Capture Error: Connection refused"));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_FALSE(recorder.isRecording());
}

TEST_F(RecorderFixture, StreamStoppingByItselfStopsTheRecordingAndKeepsItsAudio) {
    pick(0);
    start(10.0);
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    deliverSeconds(0.5);
    capture->lastStream->stopWithError(
        PlatformError{"PulseAudio", 1, "The output device was removed", nullptr});
    ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording(); }));
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Stream Stopped: The output device was removed"));
    ASSERT_TRUE(waitUntil([&] { return chunks.size() == 1; }));
    EXPECT_TRUE(chunks[0].filename().string().ends_with("-chunk-001-START-STOP.wav"));
}

TEST_F(RecorderFixture, StopWithoutAudioReportsItAndWritesNoFile) {
    pick(0);
    start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    ASSERT_TRUE(stopAndSettle());
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("No audio data was captured"));
    EXPECT_TRUE(chunks.empty());
    EXPECT_TRUE(std::filesystem::is_empty(directory()));
}

TEST_F(RecorderFixture, BuffersAreDroppedWhileTheWriterIsNotReady) {
    pick(0);
    test::FakeWriterBehaviour behaviour;
    behaviour.readyForMoreMediaData = false;
    writers->setBehaviour(behaviour);
    test::StdoutCapture log;
    start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    deliverSeconds(0.2);
    ASSERT_TRUE(stopAndSettle());
    EXPECT_TRUE(log.contains("✅ Session started"));
    EXPECT_FALSE(log.contains("✅ Recording started"));
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("No audio data was captured"));
}

TEST_F(RecorderFixture, ChunkThatCannotBeOpenedStopsTheRecordingOnce) {
    pick(0);
    test::FakeWriterBehaviour behaviour;
    behaviour.createError = PlatformError{"FFmpeg", -13, "Permission denied", nullptr};
    writers->setBehaviour(behaviour);
    test::StdoutCapture log;
    start();
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    deliverSeconds(0.3);
    ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording(); }));
    recorder.whenStopped([] {});
    test::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(log.count("❌ Chunk rotation failed: "), 1u);
    EXPECT_EQ(log.count("=== Stop Recording Called ==="), 1u);
    // The stop's own message follows the failure: nothing was ever written.
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("No audio data was captured"));
    EXPECT_TRUE(chunks.empty());
}

TEST_F(RecorderFixture, FinalChunkIsReportedEvenWhenItsFinishIsSlow) {
    pick(0);
    test::FakeWriterBehaviour behaviour;
    behaviour.holdsFinish = true;
    writers->setBehaviour(behaviour);
    start(10.0);
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    deliverSeconds(0.3);
    recorder.stopRecording();
    bool stopped = false;
    recorder.whenStopped([&] { stopped = true; });
    ASSERT_TRUE(waitUntil([&] { return writers->writerCount() == 1 && writers->writer(0)->isFinishHeld(); }));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_FALSE(stopped); // still finishing
    EXPECT_TRUE(chunks.empty());
    const auto writer = writers->writer(0);
    writers->forgetWriters();
    ASSERT_TRUE(writer->releaseFinish());
    ASSERT_TRUE(waitUntil([&] { return stopped && chunks.size() == 1; }));
    EXPECT_TRUE(chunks[0].filename().string().ends_with("-chunk-001-START-STOP.wav"));
}

TEST_F(RecorderFixture, LatePostsOfAStoppedRecordingLeaveTheNextOneAlone) {
    pick(0);
    start(10.0);
    ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    // The first recording captured nothing (its clean-up says so) and its stream reports a
    // failure late; the second recording starts before either reaches the main thread.
    recorder.stopRecording();
    capture->lastStream->stopWithError(
        PlatformError{"PulseAudio", 1, "The output device was removed", nullptr});
    start(10.0);
    bool firstWoundDown = false;
    recorder.whenStopped([&] { firstWoundDown = true; });
    ASSERT_TRUE(waitUntil([&] { return firstWoundDown && recorder.isRecording(); }));

    deliverSeconds(0.3);
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_TRUE(recorder.errorMessage().isNull()) << recorder.errorMessage().toStdString();
    EXPECT_EQ(capture->liveStreams->load(), 1); // the second recording's stream
    ASSERT_TRUE(stopAndSettle());
    ASSERT_TRUE(waitUntil([&] { return chunks.size() == 1; }));
    EXPECT_TRUE(recorder.errorMessage().isNull()) << recorder.errorMessage().toStdString();
}

TEST(RecordingTime, MinutesAreNotWrapped) {
    EXPECT_EQ(AudioRecorder::formatRecordingTime(0), QStringLiteral("00:00"));
    EXPECT_EQ(AudioRecorder::formatRecordingTime(3725), QStringLiteral("62:05"));
    EXPECT_EQ(AudioRecorder::formatRecordingTime(75 * 60 + 3), QStringLiteral("75:03"));
}

} // namespace
} // namespace veltrane
