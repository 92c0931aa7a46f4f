#include "recording/AudioRecorder.h"

#include "platform/settings/UserDefaults.h"
#include "recording/FakeCaptureService.h"
#include "storage/FakeMediaFileWriter.h"
#include "support/EventLoopWait.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

class SelectionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        capture->content = snapshot({{7, "virt_out", "Speakers"}, {8, "hdmi", "HDMI"}},
                                    {{8, "Player", "player"}, {1001, "Browser", "browser"}});
        capture->microphoneList = {{"mic_a", "Headset"}, {"mic_b", "Webcam"}};
    }

    static ShareableContentPtr snapshot(std::vector<OutputDevice> displays,
                                        std::vector<RunningApplication> apps) {
        auto content = std::make_shared<ShareableContent>();
        content->displays = std::move(displays);
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

    std::shared_ptr<test::FakeCaptureService> capture = std::make_shared<test::FakeCaptureService>();
    std::shared_ptr<InMemoryUserDefaults> defaults = std::make_shared<InMemoryUserDefaults>();
    AudioRecorder recorder{capture, std::make_shared<test::FakeMediaFileWriterFactory>(), defaults};
};

TEST_F(SelectionFixture, FirstRunPicksTheFirstDeviceAndRemembersIt) {
    refresh();
    ASSERT_EQ(recorder.systemSources().size(), 4u);
    EXPECT_EQ(recorder.systemSources()[0].name, QStringLiteral("Desktop Audio (Speakers)"));
    EXPECT_EQ(recorder.systemSources()[2].name, QStringLiteral("App: Player"));
    ASSERT_TRUE(recorder.selectedSystemSource());
    EXPECT_EQ(recorder.selectedSystemSource()->id, 7);
    EXPECT_EQ(defaults->integer(QStringLiteral("kSysSourceID")), 7);
    EXPECT_FALSE(recorder.selectedMicrophone());
    EXPECT_FALSE(defaults->string(QStringLiteral("kMicID")));
    EXPECT_EQ(recorder.microphones().size(), 2u);
    // The pick always belongs to the latest listing, another snapshot.
    const SystemSource earlier = *recorder.selectedSystemSource();
    refresh();
    EXPECT_NE(earlier, *recorder.selectedSystemSource());
    EXPECT_EQ(*recorder.selectedSystemSource(), recorder.systemSources().front());
}

TEST_F(SelectionFixture, RememberedPicksAreRestoredAndVanishedOnesReplaced) {
    defaults->setInteger(QStringLiteral("kSysSourceID"), 1001);
    defaults->setString(QStringLiteral("kMicID"), QStringLiteral("mic_b"));
    refresh();
    EXPECT_EQ(recorder.selectedSystemSource()->name, QStringLiteral("App: Browser"));
    ASSERT_TRUE(recorder.selectedMicrophone());
    EXPECT_EQ(recorder.selectedMicrophone()->uniqueID, "mic_b");

    // The browser restarted with a new process id and the webcam was unplugged.
    capture->content = snapshot({{7, "virt_out", "Speakers"}}, {{2002, "Browser", "browser"}});
    capture->microphoneList = {{"mic_a", "Headset"}};
    refresh();
    EXPECT_EQ(recorder.selectedSystemSource()->id, 7);
    EXPECT_EQ(defaults->integer(QStringLiteral("kSysSourceID")), 7);
    EXPECT_FALSE(recorder.selectedMicrophone());
    EXPECT_FALSE(defaults->string(QStringLiteral("kMicID")));
}

TEST_F(SelectionFixture, DeviceWinsWhenItsIDEqualsAProcessID) {
    defaults->setInteger(QStringLiteral("kSysSourceID"), 8);
    refresh();
    EXPECT_TRUE(recorder.selectedSystemSource()->display);
    EXPECT_EQ(recorder.selectedSystemSource()->name, QStringLiteral("Desktop Audio (HDMI)"));
}

TEST_F(SelectionFixture, ListingFailuresKeepTheListsAndSayWhy) {
    refresh();
    capture->content =
        std::unexpected(PlatformError{"PulseAudio", 1, "Access to the sound server was declined", nullptr});
    refresh();
    EXPECT_TRUE(recorder.permissionError());
    EXPECT_TRUE(recorder.errorMessage().isNull());
    EXPECT_EQ(recorder.systemSources().size(), 4u);

    capture->content = std::unexpected(PlatformError{"PulseAudio", 6, "Connection refused", nullptr});
    refresh();
    EXPECT_EQ(recorder.errorMessage(), QStringLiteral("Source Error: Connection refused"));
    EXPECT_TRUE(recorder.permissionError()); // only a successful listing clears it

    capture->content = snapshot({{7, "virt_out", "Speakers"}}, {});
    refresh();
    EXPECT_FALSE(recorder.permissionError());
}

TEST_F(SelectionFixture, FailedMicrophoneListingStillOffersEverySystemSource) {
    capture->microphoneListError = PlatformError{"PulseAudio", 6, "Connection terminated", nullptr};
    test::StdoutCapture log;
    refresh();
    EXPECT_EQ(recorder.systemSources().size(), 4u);
    ASSERT_TRUE(recorder.selectedSystemSource());
    EXPECT_TRUE(recorder.microphones().empty());
    EXPECT_TRUE(recorder.errorMessage().isNull());
    EXPECT_FALSE(recorder.permissionError());
    EXPECT_TRUE(log.contains("⚠️ Could not list microphones: ")) << log.text();
    EXPECT_TRUE(log.contains("Connection terminated"));
}

TEST_F(SelectionFixture, SavingFollowsThePicks) {
    refresh();
    recorder.setSelectedMicrophone(recorder.microphones()[0]);
    recorder.setSelectedSystemSource(recorder.systemSources()[3]);
    recorder.saveSelections();
    EXPECT_EQ(defaults->integer(QStringLiteral("kSysSourceID")), 1001);
    EXPECT_EQ(defaults->string(QStringLiteral("kMicID")), QStringLiteral("mic_a"));
    recorder.setSelectedMicrophone(std::nullopt);
    recorder.setSelectedSystemSource(std::nullopt);
    recorder.saveSelections();
    EXPECT_EQ(defaults->integer(QStringLiteral("kSysSourceID")), 1001); // never removed
    EXPECT_FALSE(defaults->string(QStringLiteral("kMicID")));
}

} // namespace
} // namespace veltrane
