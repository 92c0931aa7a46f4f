#include "recording/AudioRecorder.h"

#include "platform/settings/UserDefaults.h"
#include "recording/FakeCaptureService.h"
#include "storage/FakeMediaFileWriter.h"
#include "support/EventLoopWait.h"
#include "support/LogCapture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::waitUntil;

class RecorderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        auto content = std::make_shared<CaptureSources>();
        content->outputs.push_back(OutputDevice{4242, "virt_out", "VirtualOutput"});
        content->applications.push_back(RunningApplication{1001, "Player", "player"});
        content->applications.push_back(RunningApplication{1002, "Recorder", "veltrane-recorder"});
        snapshot = content;
        QObject::connect(&recorder, &AudioRecorder::chunkReady,
                         [this](const std::filesystem::path& path, const auto&) { chunks.push_back(path); });
    }

    std::filesystem::path directory() const { return std::filesystem::path(folder.path().toStdString()); }
    void pick(std::size_t index) {
        recorder.setSelectedSystemSource(SystemSource::listFrom(snapshot).at(index));
    }
    void start() {
        recorder.startRecording(directory(), QStringLiteral("studio7"), RecordingFormat::wav, 10.0);
    }
    // Picks the first source, starts and waits until the recording runs.
    void startRunning() {
        pick(0);
        start();
        ASSERT_TRUE(waitUntil([&] { return recorder.isRecording(); }));
    }
    bool stopAndSettle() {
        recorder.stopRecording();
        return settle();
    }
    bool settle() {
        bool stopped = false;
        recorder.whenStopped([&] { stopped = true; });
        return waitUntil([&] { return stopped; });
    }
    // 10 ms buffers covering `seconds` from the start.
    void deliverSeconds(double seconds) {
        for (int i = 0; i < static_cast<int>(seconds * 100); ++i) {
            capture->lastStream->deliver(static_cast<std::int64_t>(i) * 480, 480, 0.25f);
        }
        recorder.processingQueue().waitUntilDrained();
    }

    QTemporaryDir folder;
    CaptureSourcesPtr snapshot;
    std::shared_ptr<test::FakeCaptureService> capture = std::make_shared<test::FakeCaptureService>();
    std::shared_ptr<test::FakeMediaFileWriterFactory> writers =
        std::make_shared<test::FakeMediaFileWriterFactory>();
    std::shared_ptr<InMemoryUserDefaults> defaults = std::make_shared<InMemoryUserDefaults>();
    AudioRecorder recorder{capture, writers, defaults};
    std::vector<std::filesystem::path> chunks;
};

TEST_F(RecorderFixture, TheOutputTargetLeavesOurselvesOutAndADevicelessSourceIsRefused) {
    const auto targetFor = [&](const char* ownName) {
        capture->ownIdentifier = ownName;
        pick(0);
        start();
        const CaptureTarget target = capture->lastStream->target;
        EXPECT_TRUE(stopAndSettle());
        return target;
    };
    EXPECT_EQ(targetFor("veltrane-recorder").applications, std::vector{snapshot->applications[1]});
    EXPECT_TRUE(targetFor("someone-else").applications.empty());

    // An application without any output device to capture it through.
    auto content = std::make_shared<CaptureSources>();
    content->applications.push_back(RunningApplication{1001, "Player", "player"});
    recorder.setSelectedSystemSource(SystemSource::listFrom(content).at(0));
    capture->lastStream = nullptr;
    start();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Invalid source configuration"));
    EXPECT_EQ(capture->lastStream, nullptr);
}

TEST_F(RecorderFixture, StreamFailuresStopTheRecordingWithAMessage) {
    pick(0);
    capture->nextHandlerError = PlatformError{"PulseAudio", 3, "no such stream", nullptr};
    start();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Setup Error: no such stream"));
    capture->nextHandlerError.reset();
    capture->nextStartError = PlatformError{"PulseAudio", 6, "Connection refused", nullptr};
    start();
    EXPECT_TRUE(recorder.errorMessage().isNull()); // cleared by the start
    ASSERT_TRUE(waitUntil([&] { return !recorder.errorMessage().isNull(); }));
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Capture Error: Connection refused"));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_FALSE(recorder.isRecording());

    capture->nextStartError.reset();
    startRunning();
    deliverSeconds(0.5);
    capture->lastStream->stopWithError(
        PlatformError{"PulseAudio", 1, "The output device was removed", nullptr});
    // The error shows once the last chunk is finished and reported.
    ASSERT_TRUE(waitUntil([&] { return !recorder.errorMessage().isNull(); }));
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Stream Stopped: The output device was removed"));
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(chunks[0].filename().string().ends_with("-chunk-001-START-STOP.wav"));
}

// No buffer, only buffers the writer was never ready for, or no chunk that would open (which
// stops the recording by itself): one stop that says so and no file.
TEST_F(RecorderFixture, RecordingWithoutWrittenAudioStopsOnceSaysSoAndLeavesNoFile) {
    const std::pair<test::FakeWriterBehaviour, double> cases[] = {
        {{}, 0.0},
        {{.readyForMoreMediaData = false}, 0.2},
        {{.createError = PlatformError{"FFmpeg", -13, "Permission denied", nullptr}}, 0.3}};
    for (const auto& [behaviour, seconds] : cases) {
        writers->setBehaviour(behaviour);
        test::LogCapture log;
        startRunning();
        deliverSeconds(seconds);
        if (behaviour.createError) {
            ASSERT_TRUE(waitUntil([&] { return !recorder.isRecording(); }));
            test::spinFor(std::chrono::milliseconds(100));
        } else {
            recorder.stopRecording();
        }
        ASSERT_TRUE(settle());
        EXPECT_EQ(log.count("=== Stop Recording Called ==="), 1u);
        EXPECT_EQ(recorder.errorMessage(), QStringLiteral("No audio data was captured"));
        EXPECT_TRUE(chunks.empty());
        EXPECT_TRUE(std::filesystem::is_empty(directory()));
    }
}

TEST_F(RecorderFixture, LatePostsOfAStoppedRecordingLeaveTheNextOneAlone) {
    startRunning();
    // The first recording captured nothing (its clean-up says so) and its stream reports a
    // failure late; the second recording starts before either reaches the main thread.
    recorder.stopRecording();
    capture->lastStream->stopWithError(
        PlatformError{"PulseAudio", 1, "The output device was removed", nullptr});
    start();
    bool firstWoundDown = false;
    recorder.whenStopped([&] { firstWoundDown = true; });
    ASSERT_TRUE(waitUntil([&] { return firstWoundDown && recorder.isRecording(); }));

    deliverSeconds(0.3);
    EXPECT_EQ(capture->liveStreams->load(), 1); // the second recording's stream
    ASSERT_TRUE(stopAndSettle());
    ASSERT_TRUE(waitUntil([&] { return chunks.size() == 1; }));
    EXPECT_TRUE(recorder.errorMessage().isNull()) << recorder.errorMessage().toStdString();
}

class MicrophoneFixture : public RecorderFixture {
protected:
    void SetUp() override {
        RecorderFixture::SetUp();
        recorder.setSelectedMicrophone(InputDevice{"virt_mic", "VirtualMic"});
    }
    void startMixing() {
        startRunning();
        ASSERT_NE(capture->lastMicrophone, nullptr);
        ASSERT_TRUE(waitUntil([&] { return capture->lastMicrophone->isRunning(); }));
    }
    void drain() { recorder.processingQueue().waitUntilDrained(); }
};

// Big-endian buffers cannot be read: each is counted, a few are logged, and after the stop a
// buffer still on its way from the platform is not even looked at.
TEST_F(MicrophoneFixture, UnreadableBuffersAreCountedLoggedSparinglyAndIgnoredAfterTheStop) {
    test::LogCapture log;
    startMixing();
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
    EXPECT_EQ(log.count("⚠️ Mic buffer conversion failed"), 3u); // the 1st, 200th and 400th
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

// An unplugged microphone is shown end to end (MicrophoneRecord); here one missing at the start.
TEST_F(MicrophoneFixture, MissingMicrophoneLeavesTheRecordingRunning) {
    capture->microphoneAvailable = false;
    test::LogCapture log;
    startRunning();
    capture->lastStream->deliver(0, 480, 0.1f);
    drain();
    EXPECT_TRUE(log.contains("✅ Recording started (system audio only)"));
    ASSERT_TRUE(stopAndSettle());
}

// A microphone block that comes after the system audio of its time (a burst outran it) is mixed
// beside that audio; a microphone that stays away holds the system audio back only for a while.
TEST_F(MicrophoneFixture, LateMicrophoneBlockIsMixedBesideTheAudioOfItsTime) {
    test::LogCapture log;
    startMixing();
    for (const auto& [microphoneBlocks, systemBuffers] : {std::pair{3, 20}, {2, 0}, {0, 60}}) {
        for (int i = 0; i < microphoneBlocks; ++i) {
            capture->lastMicrophone->deliver(test::makeInt16MonoBuffer(2400, 8192));
        }
        for (int i = 0; i < systemBuffers; ++i) {
            capture->lastStream->deliver(0, 480, 0.0f);
        }
        drain();
    }
    const auto appended = writers->writers().back()->state().appended;
    ASSERT_EQ(appended.size(), 80u);
    for (std::size_t i = 0; i < 20; ++i) { // the lead (5760 samples), then the late blocks
        EXPECT_EQ(reinterpret_cast<const float*>(appended[i]->data().data())[959], 0.25f) << i;
    }
    EXPECT_EQ(log.count("⚠️ Mic queue ran dry"), 1u); // once the microphone stayed away
}

// The sources and microphones on offer, and which of them are picked and remembered.
class SelectionFixture : public RecorderFixture {
protected:
    void SetUp() override {
        capture->sources = snapshotOf({{7, "virt_out", "Speakers"}, {8, "hdmi", "HDMI"}},
                                      {{8, "Player", "player"}, {1001, "Browser", "browser"}});
        capture->microphoneList = {{"mic_a", "Headset"}, {"mic_b", "Webcam"}};
    }
    static CaptureSourcesPtr snapshotOf(std::vector<OutputDevice> outputs,
                                        std::vector<RunningApplication> apps) {
        auto content = std::make_shared<CaptureSources>();
        content->outputs = std::move(outputs);
        content->applications = std::move(apps);
        return content;
    }
    void refresh() {
        bool done = false;
        const auto connection =
            QObject::connect(&recorder, &AudioRecorder::sourcesRefreshed, [&] { done = true; });
        recorder.refreshSources();
        ASSERT_TRUE(test::waitUntil([&] { return done; }));
        QObject::disconnect(connection);
    }
};

// The first device is picked and remembered; the pick belongs to the latest listing; saving
// follows the picks but never forgets the system source.
TEST_F(SelectionFixture, FirstRunPicksTheFirstDeviceAndSavingFollowsThePicks) {
    const QString source = QStringLiteral("kSysSourceID"), microphone = QStringLiteral("kMicID");
    refresh();
    ASSERT_EQ(recorder.systemSources().size(), 4u);
    EXPECT_EQ(recorder.selectedSystemSource()->id, 7);
    EXPECT_EQ(defaults->integer(source), 7);
    EXPECT_FALSE(recorder.selectedMicrophone());
    const SystemSource earlier = *recorder.selectedSystemSource();
    refresh();
    EXPECT_NE(earlier, *recorder.selectedSystemSource()); // another snapshot
    EXPECT_EQ(*recorder.selectedSystemSource(), recorder.systemSources().front());

    recorder.setSelectedMicrophone(recorder.microphones()[0]);
    recorder.setSelectedSystemSource(recorder.systemSources()[3]);
    recorder.saveSelections();
    EXPECT_EQ(defaults->integer(source), 1001);
    EXPECT_EQ(defaults->string(microphone), QStringLiteral("mic_a"));
    recorder.setSelectedMicrophone(std::nullopt);
    recorder.setSelectedSystemSource(std::nullopt);
    recorder.saveSelections();
    EXPECT_EQ(defaults->integer(source), 1001);
    EXPECT_FALSE(defaults->string(microphone));
}

// A device wins over a process with the same id; vanished picks are replaced and forgotten.
TEST_F(SelectionFixture, RememberedPicksAreRestoredAndVanishedOnesReplaced) {
    defaults->setInteger(QStringLiteral("kSysSourceID"), 8);
    refresh();
    EXPECT_EQ(recorder.selectedSystemSource()->name, QStringLiteral("Desktop Audio (HDMI)"));

    defaults->setInteger(QStringLiteral("kSysSourceID"), 1001);
    defaults->setString(QStringLiteral("kMicID"), QStringLiteral("mic_b"));
    refresh();
    EXPECT_EQ(recorder.selectedSystemSource()->name, QStringLiteral("App: Browser"));
    ASSERT_TRUE(recorder.selectedMicrophone());
    EXPECT_EQ(recorder.selectedMicrophone()->name, "mic_b");

    // The browser restarted with a new process id and the webcam was unplugged.
    capture->sources = snapshotOf({{7, "virt_out", "Speakers"}}, {{2002, "Browser", "browser"}});
    capture->microphoneList = {{"mic_a", "Headset"}};
    refresh();
    EXPECT_EQ(recorder.selectedSystemSource()->id, 7);
    EXPECT_EQ(defaults->integer(QStringLiteral("kSysSourceID")), 7);
    EXPECT_FALSE(recorder.selectedMicrophone());
    EXPECT_FALSE(defaults->string(QStringLiteral("kMicID")));
}

TEST_F(SelectionFixture, ListsFollowTheServerAndKeepAVanishedPick) {
    defaults->setInteger(QStringLiteral("kSysSourceID"), 1001);
    defaults->setString(QStringLiteral("kMicID"), QStringLiteral("mic_b"));
    refresh();
    ASSERT_TRUE(capture->sourcesChanged);
    capture->sources = snapshotOf({{7, "virt_out", "Speakers"}}, {{3003, "Meeting", "meet"}});
    capture->microphoneList = {{"mic_a", "Headset"}};
    capture->sourcesChanged();
    ASSERT_TRUE(test::waitUntil([&] { return recorder.systemSources().size() == 3; }));
    EXPECT_EQ(recorder.systemSources()[1].name, QStringLiteral("App: Meeting"));
    EXPECT_EQ(recorder.systemSources()[2].name, QStringLiteral("App: Browser (unavailable)"));
    EXPECT_EQ(recorder.selectedSystemSource()->id, 1001);
    ASSERT_EQ(recorder.microphones().size(), 2u);
    EXPECT_EQ(recorder.microphones()[1].description, "Webcam (unavailable)");

    // The sound server restarts: the lists are asked for until it answers, then watched anew.
    capture->sources = std::unexpected(PlatformError{"PulseAudio", 6, "Connection refused", nullptr});
    *capture->watchLost = true;
    capture->sourcesChanged();
    ASSERT_TRUE(test::waitUntil([&] { return capture->listings >= 3; }));
    capture->sources = snapshotOf({{7, "virt_out", "Speakers"}}, {});
    ASSERT_TRUE(test::waitUntil([&] { return capture->watchesOpened == 2; }));
    ASSERT_TRUE(test::waitUntil([&] { return recorder.systemSources().size() == 2; }));
}

// A failed microphone listing still offers the sources; a refused listing keeps the last one
// and raises the permission error until a listing succeeds. The error's kind decides, not its words.
TEST_F(SelectionFixture, ListingFailuresKeepTheListsAndSayWhy) {
    capture->microphoneListError = PlatformError{"PulseAudio", 6, "Connection terminated", nullptr};
    refresh();
    EXPECT_TRUE(recorder.selectedSystemSource());
    EXPECT_TRUE(recorder.microphones().empty());
    EXPECT_TRUE(recorder.errorMessage().isNull());
    capture->sources =
        std::unexpected(PlatformError{"PulseAudio", 6, "No permission issue: refused", nullptr});
    refresh();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Source Error: No permission issue: refused"));
    EXPECT_FALSE(recorder.permissionError());
    capture->sources = std::unexpected(
        PlatformError{"PulseAudio", 1, "Access denied", nullptr, PlatformError::Kind::permissionDenied});
    refresh();
    EXPECT_TRUE(recorder.permissionError());
    EXPECT_EQ(recorder.systemSources().size(), 4u);

    capture->sources = std::unexpected(PlatformError{"PulseAudio", 6, "Connection refused", nullptr});
    refresh();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Source Error: Connection refused"));
    EXPECT_TRUE(recorder.permissionError());

    capture->sources = snapshotOf({{7, "virt_out", "Speakers"}}, {});
    refresh();
    EXPECT_FALSE(recorder.permissionError());
}

TEST(RecordingTime, MinutesAreNotWrapped) {
    EXPECT_EQ(AudioRecorder::formatRecordingTime(75 * 60 + 3), QStringLiteral("75:03"));
}

} // namespace
} // namespace veltrane
