#include "app/AppTestRig.h"
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "storage/ChunkFileName.h"
#include "support/EventLoopWait.h"
#include "support/RunTask.h"
#include "ui/ContentView.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

namespace veltrane {
namespace {

using test::waitUntil;

TEST(WindowValues, DerivedTexts) {
    const std::vector<std::pair<double, QString>> gains = {{1.0, "100%"}, {1.1, "110%"},
                                                           {0.35, "35%"}, {0.0, "0%"},
                                                           {2.0, "200%"}, {static_cast<float>(0.7), "70%"}};
    for (const auto& [gain, text] : gains) {
        EXPECT_EQ(ContentView::gainPercentText(gain), text) << gain;
    }
    const std::vector<std::pair<QString, QString>> names = {{"Studio Mac-Pro", "studiomacpro001"},
                                                            {"Büro 7", "bro7"},
                                                            {"7", "linux7"},
                                                            {"", "linux001"},
                                                            {"--- !", "linux001"},
                                                            {"host-42", "host42"},
                                                            {QString(40, u'a'), QString(32, u'a') + "001"}};
    for (const auto& [computer, id] : names) {
        EXPECT_EQ(RootView::defaultDeviceID(computer), id) << computer.toStdString();
        EXPECT_TRUE(isValidDeviceID(RootView::defaultDeviceID(computer)));
    }
    const std::vector<std::pair<QByteArray, double>> chunkSeconds = {
        {"", 300}, {"4", 300}, {"5", 5}, {"3600", 3600}, {"3601", 300}, {"ten", 300}};
    for (const auto& [variable, seconds] : chunkSeconds) {
        EXPECT_EQ(ContentView::chunkDurationSeconds(variable), seconds) << variable.toStdString();
    }
    EXPECT_TRUE(ContentView::canStartRecording("ab1", true, true, true));
    EXPECT_FALSE(ContentView::canStartRecording("7", true, true, true));
    EXPECT_FALSE(ContentView::canStartRecording("ab1", false, true, true));
    EXPECT_FALSE(ContentView::canStartRecording("ab1", true, false, true));
    EXPECT_FALSE(ContentView::canStartRecording("ab1", true, true, false));

    QTemporaryDir dir;
    const QString machineInfo = dir.filePath("machine-info");
    std::ofstream(machineInfo.toStdString()) << "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Anna's Laptop\"\n";
    EXPECT_EQ(RootView::computerName(machineInfo), "Anna's Laptop");
    EXPECT_FALSE(RootView::computerName(dir.filePath("missing")).isEmpty());
}

TEST(WindowValues, SilenceWarningAfterThirtySilentSeconds) {
    SilenceWatch watch;
    const auto start = std::chrono::steady_clock::time_point{};
    EXPECT_FALSE(watch.feed(0, 0, start));
    EXPECT_FALSE(watch.feed(0, 0, start + std::chrono::seconds(29)));
    EXPECT_TRUE(watch.feed(0, 0, start + std::chrono::seconds(30)));
    EXPECT_FALSE(watch.feed(0, 0.2, start + std::chrono::seconds(31))); // the microphone hears something
    EXPECT_FALSE(watch.feed(0, 0, start + std::chrono::seconds(32)));
    EXPECT_TRUE(watch.feed(0, 0, start + std::chrono::seconds(62)));
}

// A signed-in window over the stand-in server, a scripted sound server and fake encoders.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root() / "chunks");
        rig.defaults->setString(RecordingDestination::kDestinationBookmark,
                                QString::fromStdString((root() / "chunks").string()));
        auto content = std::make_shared<ShareableContent>();
        content->displays.push_back({.displayID = 7, .name = "virt_out", .description = "Speakers"});
        rig.capture->content = content;
        env = rig.launch();
        window = std::make_unique<MainWindow>(*env);
        test::runTask(env->auth().login("demo@veltrane.test", "demo-password"));
        ASSERT_TRUE(waitUntil([&] { return contentView() && env->assignment().projects().size() == 2; }));
        ASSERT_TRUE(waitUntil([&] { return contentView()->recorder().selectedSystemSource().has_value(); }));
    }
    void TearDown() override {
        window.reset();
        env.reset();
    }

    [[nodiscard]] std::filesystem::path root() const { return rig.root(); }
    [[nodiscard]] ContentView* contentView() const { return window->rootView().contentView(); }
    [[nodiscard]] QPushButton* button(const QString& text) const {
        for (QPushButton* candidate : window->findChildren<QPushButton*>()) {
            if (candidate->text() == text) {
                return candidate;
            }
        }
        return nullptr;
    }
    // Selects the first project and waits for its meetings, so no request outlives the test.
    void selectAlpha() {
        env->assignment().selectProject(env->assignment().projects().front());
        ASSERT_TRUE(waitUntil([&] { return !env->assignment().isLoadingMeetings(); }));
    }
    void typeDeviceID(const QString& text) {
        auto* field = contentView()->findChild<QLineEdit*>();
        field->setText(text);
        emit field->textEdited(text);
    }
    // Records one buffer and waits until recording.
    void startRecording() {
        contentView()->toggleRecording();
        ASSERT_TRUE(waitUntil([&] { return contentView()->recorder().isRecording(); }));
        rig.capture->lastStream->deliver(0, 4800, 0.25f);
    }

    test::AppTestRig rig;
    std::unique_ptr<AppEnvironment> env;
    std::unique_ptr<MainWindow> window;
};

TEST_F(WindowTest, RecordIsOfferedOnlyWithAValidDeviceAProjectAndAFolder) {
    QPushButton* record = button("Record");
    ASSERT_NE(record, nullptr);
    EXPECT_FALSE(record->isEnabled()); // no project yet
    selectAlpha();
    typeDeviceID("rig1");
    EXPECT_TRUE(record->isEnabled());
    EXPECT_EQ(rig.defaults->string(ContentView::kDeviceIDKey), "rig1");

    typeDeviceID("7"); // remembered as typed, but refused
    EXPECT_FALSE(record->isEnabled());
    EXPECT_EQ(rig.defaults->string(ContentView::kDeviceIDKey), "7");
    contentView()->toggleRecording();
    EXPECT_EQ(contentView()->recorder().errorMessage(),
              "Device ID must be letters and digits, ending in a digit.");
    EXPECT_FALSE(contentView()->recorder().isRecording());
}

TEST_F(WindowTest, ChunksAreQueuedUnderTheProjectChosenWhenTheyAreReported) {
    selectAlpha();
    typeDeviceID("rig1");
    startRecording();
    ASSERT_NE(button("Stop"), nullptr);
    EXPECT_FALSE(contentView()->findChild<QLineEdit*>()->isEnabled());

    // Stop, then Record at once: the second press must not start anything while the last chunk
    // is still being finished.
    contentView()->toggleRecording();
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    EXPECT_FALSE(contentView()->recorder().isRecording());
    EXPECT_EQ(rig.writers->writerCount(), 1u);
    ASSERT_TRUE(waitUntil([&] { return env->uploads()->jobs().size() == 1; }));
    const UploadJob& job = env->uploads()->jobs().front();
    EXPECT_EQ(job.projectId, "prj-alpha");
    EXPECT_EQ(job.contextLabel(), "Alpha Research");
    EXPECT_TRUE(job.filename.starts_with("rig1-")) << job.filename;

    // Without a project a finished chunk stays in the folder only.
    startRecording();
    env->assignment().selectProject(std::nullopt);
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(env->uploads()->jobs().size(), 1u);
}

} // namespace
} // namespace veltrane
