#include "app/AppTestRig.h"
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "app/Translations.h"
#include "app/UploadFailureNotifier.h"
#include "platform/desktop/DesktopNotifications.h"
#include "server/AuthManager.h"
#include "storage/ChunkFileName.h"
#include "storage/StorageErrors.h"
#include "support/CannedHttpServer.h"
#include "support/CliProcess.h"
#include "support/EventLoopWait.h"
#include "support/RunTask.h"
#include "ui/ContentView.h"
#include "ui/LevelMeter.h"
#include "ui/LoginView.h"
#include "upload/UploadQueueFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

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

TEST(WindowValues, GeometryFitsTheScreensFreeArea) {
    const QRect laptop(0, 0, 1366, 768 - 32); // a 32 px panel at the bottom
    const QMargins frame(4, 30, 4, 4);
    const QSize minimum = MainWindow::kMinimumSize;
    const struct {
        std::optional<QRect> remembered;
        QRect expected;
    } cases[] = {
        {std::nullopt, QRect(453, 30, 460, 702)},                      // centred, as high as fits
        {QRect(100, 500, 500, 900), QRect(100, 30, 500, 702)},         // pushed up, shortened
        {QRect(2000, -50, 420, 500), QRect(1362 - 420, 30, 420, 500)}, // pulled back on screen
        {QRect(10, 40, 200, 200), QRect(10, 40, minimum.width(), minimum.height())},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MainWindow::fittedGeometry(c.remembered, laptop, minimum, MainWindow::kDefaultSize, frame),
                  c.expected);
    }
    EXPECT_EQ(MainWindow::titleText(true, "12:31"), "● Recording 12:31 — VeltraneRecorder");
    EXPECT_EQ(MainWindow::titleText(false, ""), "VeltraneRecorder");
}

TEST(WindowValues, ServerComesFromTheVariableTheUserOrThePreset) {
    const auto resolved = [](const QString& variable, std::optional<QString> user,
                             std::optional<QString> preset) {
        const ServerConfiguration config = ServerConfiguration::resolve(variable, user, preset);
        return config.baseURL()->toString();
    };
    EXPECT_EQ(resolved("", std::nullopt, std::nullopt), ServerConfiguration::kDefaultBaseURLText);
    EXPECT_EQ(resolved("", std::nullopt, "https://org.example"), "https://org.example");
    EXPECT_EQ(resolved("", "https://mine.example", "https://org.example"), "https://mine.example");
    EXPECT_EQ(resolved("http://127.0.0.1:9", "https://mine.example", "https://org.example"),
              "http://127.0.0.1:9");
    // An unusable preset or choice is passed over; a remote plain-http server is refused.
    EXPECT_EQ(resolved("", "http://remote.example", "ftp://x"), ServerConfiguration::kDefaultBaseURLText);
    EXPECT_THROW((void)ServerConfiguration::resolve("http://remote.example", {}, {}), std::invalid_argument);

    // The preset is read from the system-wide settings in the folders of XDG_CONFIG_DIRS.
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("Veltrane"));
    std::ofstream(dir.filePath("Veltrane/VeltraneRecorder.conf").toStdString())
        << "[General]\nserverURL=https://preset.example\n";
    qputenv("XDG_CONFIG_DIRS", dir.path().toUtf8());
    qunsetenv(ServerConfiguration::kBaseURLEnvironmentVariable);
    EXPECT_EQ(ServerConfiguration::systemPreset(), QString("https://preset.example"));
    ServerConfiguration config = ServerConfiguration::fromEnvironment();
    EXPECT_EQ(config.baseURL()->host(), "preset.example");
    EXPECT_TRUE(config.isChangeable());
    EXPECT_THROW(config.choose("http://remote.example"), std::invalid_argument);
    config.choose("http://localhost:8080");
    EXPECT_EQ(config.displayText(), "http://localhost:8080");
}

TEST(WindowValues, FailedUploadsAreReportedOnceAndGrouped) {
    std::vector<UploadJob> jobs(3);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].id = "job" + std::to_string(i);
        jobs[i].state = UploadState::failed;
    }
    jobs[2].state = UploadState::pending;
    std::set<std::string> known;
    EXPECT_EQ(UploadFailureNotifier::newlyFailed(jobs, known).size(), 2u);
    EXPECT_TRUE(UploadFailureNotifier::newlyFailed(jobs, known).empty());
    jobs[0].state = UploadState::pending; // retried, then failed again: news again
    (void)UploadFailureNotifier::newlyFailed(jobs, known);
    jobs[0].state = UploadState::failed;
    EXPECT_EQ(UploadFailureNotifier::newlyFailed(jobs, known), std::vector<std::string>{"job0"});
    EXPECT_EQ(UploadFailureNotifier::summaryText(3), "3 chunks could not be uploaded");
    EXPECT_EQ(UploadFailureNotifier::summaryText(1), "1 chunk could not be uploaded");
}

// Answers the folder chooser with `answer` (nothing: cancelled) and counts the questions.
struct AnsweringChooser : FolderChooser {
    std::optional<std::filesystem::path> chooseFolder(const QString&, const QString&,
                                                      const std::optional<std::filesystem::path>&) override {
        ++asked;
        return answer;
    }
    std::optional<std::filesystem::path> answer;
    int asked = 0;
};

// A signed-in window over the stand-in server, a scripted sound server and fake encoders.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"); // notifications go nowhere
        std::filesystem::create_directories(root() / "chunks");
        if (withFolder) {
            rig.defaults->setString(RecordingDestination::kDestinationBookmark,
                                    QString::fromStdString((root() / "chunks").string()));
        }
        rig.folderChooser = chooser;
        auto content = std::make_shared<CaptureSources>();
        content->outputs.push_back({.outputID = 7, .name = "virt_out", .description = "Speakers"});
        rig.capture->sources = content;
        env = rig.launch();
        window = std::make_unique<MainWindow>(*env, TrayPresence::absent);
        QObject::connect(
            &window->notifications(), &DesktopNotifications::sent,
            [this](const QString& summary, const QString& body) { sent << summary + ": " + body; });
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

    [[nodiscard]] std::optional<QByteArray> received(const std::string& filename) const {
        QDirIterator found(QString::fromStdString(rig.server.dataDir().string()),
                           {QString::fromStdString(filename)}, QDir::Files, QDirIterator::Subdirectories);
        if (!found.hasNext()) {
            return std::nullopt;
        }
        QFile file(found.next());
        return file.open(QIODevice::ReadOnly) ? std::optional(file.readAll()) : std::nullopt;
    }

    bool withFolder = true; // the folder chosen in an earlier run
    std::shared_ptr<AnsweringChooser> chooser = std::make_shared<AnsweringChooser>();
    test::AppTestRig rig;
    std::unique_ptr<AppEnvironment> env;
    std::unique_ptr<MainWindow> window;
    QStringList sent; // the notifications, as "summary: body"
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
    const auto locked = [&](const char* format) {
        return button(format)->palette().color(QPalette::Disabled, QPalette::Button);
    };
    EXPECT_NE(locked("M4A"), locked("WAV")) << "the recorded format shows while locked";

    // Stop, then Record at once: the second press must not start anything while the last chunk
    // is still being finished.
    contentView()->toggleRecording();
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    EXPECT_FALSE(contentView()->recorder().isRecording());
    EXPECT_EQ(rig.writers->writerCount(), 1u);
    ASSERT_EQ(env->uploads()->jobs().size(), 1u); // filed before the stop ended
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

TEST_F(WindowTest, MetersFallToZeroWhenTheRecordingStopsAndTheGainColourFollowsItsValue) {
    selectAlpha();
    typeDeviceID("rig1");
    startRecording();
    auto* meter = contentView()->findChild<LevelMeter*>();
    ASSERT_TRUE(waitUntil([&] { return meter->level() > 0; }));
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    EXPECT_EQ(meter->level(), 0.0);

    auto* gain = contentView()->findChild<QSlider*>();
    const QColor accent = gain->palette().color(QPalette::Highlight);
    gain->setValue(15); // 150 % may clip
    EXPECT_NE(gain->palette().color(QPalette::Highlight), accent);
    gain->setValue(8);
    EXPECT_EQ(gain->palette().color(QPalette::Highlight), accent);
}

class WindowWithoutFolderTest : public WindowTest {
protected:
    void SetUp() override {
        withFolder = false;
        WindowTest::SetUp();
    }
};

TEST_F(WindowWithoutFolderTest, RecordAsksForAFolderAndRecordsIntoTheChosenOne) {
    selectAlpha();
    typeDeviceID("rig1");
    QPushButton* record = button("Record");
    ASSERT_TRUE(record->isEnabled());
    record->click(); // the chooser is cancelled
    EXPECT_EQ(chooser->asked, 1);
    EXPECT_FALSE(contentView()->recorder().isRecording());
    chooser->answer = root() / "chunks";
    record->click();
    ASSERT_TRUE(waitUntil([&] { return contentView()->recorder().isRecording(); }));
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    EXPECT_EQ(chooser->asked, 2);
}

// The window with the application font half as large again.
class WindowLargeFontTest : public WindowTest {
protected:
    void SetUp() override {
        QFont large = normalFont;
        large.setPointSizeF(normalFont.pointSizeF() * 1.5);
        QApplication::setFont(large);
        WindowTest::SetUp();
    }
    void TearDown() override {
        WindowTest::TearDown();
        QApplication::setFont(normalFont);
    }
    // Labels and buttons whose text does not fit their room or that reach past the window's right
    // edge. A label that shortens a long name on purpose carries it whole as its tooltip.
    [[nodiscard]] QStringList clippedTexts() const {
        QStringList clipped;
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            auto* label = qobject_cast<QLabel*>(widget);
            auto* button = qobject_cast<QAbstractButton*>(widget);
            auto* picker = qobject_cast<QComboBox*>(widget);
            const QString text = label    ? label->text()
                                 : button ? button->text()
                                 : picker ? picker->currentText()
                                          : QString();
            if (text.isEmpty() || !widget->isVisibleTo(window.get()) ||
                (label && (label->wordWrap() || !label->toolTip().isEmpty()))) {
                continue;
            }
            const bool fits =
                widget->height() >= widget->minimumSizeHint().height() &&
                (label ? widget->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width()
                       : widget->width() >= widget->minimumSizeHint().width());
            if (!fits || widget->mapTo(window.get(), QPoint(widget->width(), 0)).x() > window->width()) {
                clipped << text;
            }
        }
        return clipped;
    }

    const QFont normalFont = QApplication::font();
};

TEST_F(WindowLargeFontTest, NothingClipsAtTheSmallestSize) {
    window->show();
    window->resize(1, 1); // as small as it goes
    selectAlpha();
    typeDeviceID("Studio 7");                     // the hint shows
    test::spinFor(std::chrono::milliseconds(50)); // laid out again
    EXPECT_EQ(clippedTexts().join(" | ").toStdString(), "") << window->width() << "x" << window->height();
    typeDeviceID("rig1");
    startRecording();
    test::spinFor(std::chrono::milliseconds(50)); // laid out for recording
    EXPECT_EQ(clippedTexts().join(" | ").toStdString(), "") << window->width() << "x" << window->height();
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    contentView()->findChild<QPushButton*>("signOut")->click();
    ASSERT_NE(window->rootView().loginView(), nullptr);
    test::spinFor(std::chrono::milliseconds(50)); // the form is laid out
    EXPECT_EQ(clippedTexts().join(" | ").toStdString(), "") << window->width() << "x" << window->height();
}

TEST_F(WindowTest, ASilentSourceAndARecordingThatStopsByItselfRaiseOneNotificationEach) {
    selectAlpha();
    typeDeviceID("rig1");
    startRecording();
    EXPECT_EQ(window->windowTitle(), "● Recording 00:00 — VeltraneRecorder");
    // The window is not in front: the silence warning comes as a notification too.
    contentView()->setSilenceLimit(std::chrono::seconds(0));
    rig.capture->lastStream->deliver(4800, 4800, 0.0f);
    ASSERT_TRUE(waitUntil([&] { return sent.size() == 1; }));
    EXPECT_TRUE(
        sent.front().startsWith("Nothing heard: Nothing has been heard from Desktop Audio (Speakers)"))
        << sent.front().toStdString();
    sent.clear();
    rig.capture->lastStream->stopWithError(PlatformError{"Fake", 1, "the device went away", nullptr});
    ASSERT_TRUE(waitUntil([&] {
        return !contentView()->recorder().isRecording() &&
               contentView()->transition() == RecordTransition::none;
    }));
    EXPECT_EQ(sent, QStringList{"The recording stopped: Stream Stopped: the device went away"});
    EXPECT_EQ(window->windowTitle(), "VeltraneRecorder");
    contentView()->toggleRecording(); // a stop by the user is no news
    ASSERT_TRUE(waitUntil([&] { return contentView()->recorder().isRecording(); }));
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return contentView()->transition() == RecordTransition::none; }));
    EXPECT_EQ(sent.size(), 1);
}

TEST_F(WindowTest, AnExpiredSessionReturnsToSignInWhileTheRecordingGoesOn) {
    selectAlpha();
    typeDeviceID("rig1");
    QPushButton* signOut = contentView()->findChild<QPushButton*>("signOut");
    ASSERT_NE(signOut, nullptr);
    EXPECT_TRUE(signOut->isEnabled());
    startRecording();
    EXPECT_FALSE(signOut->isEnabled());

    // The server forgets the session: the next call's 401 cannot be repaired.
    rig.server.inProcess().setFaults({.tokenExpiresAfterRequests = 1});
    test::runTask(env->assignment().loadProjects());
    ASSERT_TRUE(waitUntil([&] { return window->rootView().loginView() != nullptr; }));
    EXPECT_EQ(window->rootView().loginView()->findChild<QLineEdit*>("email")->text(), "demo@veltrane.test");
    EXPECT_FALSE(env->auth().currentToken().has_value());
    EXPECT_TRUE(contentView()->recorder().isRecording());
    EXPECT_EQ(sent.filter("Your session has expired").size(), 1);

    // The chunk of the recording waits for the new sign-in, then goes out as written.
    contentView()->toggleRecording();
    ASSERT_TRUE(waitUntil([&] { return env->uploads()->jobs().size() == 1 && env->uploads()->isSettled(); }));
    EXPECT_EQ(env->uploads()->jobs().front().state, UploadState::pending);
    rig.server.inProcess().setFaults({});
    test::runTask(env->auth().login("demo@veltrane.test", "demo-password"));
    ASSERT_TRUE(
        waitUntil([&] { return window->rootView().loginView() == nullptr && !contentView()->isHidden(); }));
    ASSERT_TRUE(waitUntil([&] { return env->uploads()->jobs().front().state == UploadState::completed; }));
    const UploadJob& job = env->uploads()->jobs().front();
    EXPECT_EQ(received(job.filename),
              QByteArray::fromStdString(test::readFile(root() / "chunks" / job.filename)));
    // The sign-in's own load of the projects and meetings ends before the window goes.
    ASSERT_TRUE(
        waitUntil([&] { return !env->assignment().isLoading() && !env->assignment().isLoadingMeetings(); }));

    // Signing out forgets the token and shows the form again.
    signOut->click();
    EXPECT_NE(window->rootView().loginView(), nullptr);
    EXPECT_FALSE(env->auth().currentToken().has_value());
}

// The window in German, as LANG=de_DE.UTF-8 chooses it.
class GermanWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(installTranslations(QLocale(QLocale::German, QLocale::Germany)));
        WindowTest::SetUp();
    }
    void TearDown() override {
        WindowTest::TearDown();
        for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }

    // The English texts that have a German translation of their own (all must have one), from the
    // translation file: any of them on a screen was not translated.
    static QSet<QString> translatedEnglish() {
        QFile file(QStringLiteral(VELTRANE_GERMAN_TS));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QSet<QString> english;
        QString source;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) {
                continue;
            }
            if (xml.name() == u"source") {
                source = xml.readElementText();
            } else if (xml.name() == u"translation") {
                EXPECT_NE(xml.attributes().value("type"), u"unfinished") << source.toStdString();
                if (xml.readElementText(QXmlStreamReader::IncludeChildElements) != source) {
                    english.insert(source);
                }
            }
        }
        return english;
    }

    // Every text of the screen's visible widgets is translated, and every one-line text fits its widget.
    static void expectGerman(QWidget* screen) {
        static const QSet<QString> english = translatedEnglish();
        ASSERT_GT(english.size(), 100);
        for (QWidget* widget : screen->findChildren<QWidget*>()) {
            if (!widget->isVisibleTo(screen)) {
                continue;
            }
            QStringList texts{widget->accessibleName(), widget->accessibleDescription(), widget->toolTip()};
            QString oneLine;
            if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap()) {
                oneLine = label->text();
            } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                oneLine = button->text().remove(u'&');
            } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
                texts << field->placeholderText();
            } else if (auto* picker = qobject_cast<QComboBox*>(widget)) {
                for (int i = 0; i < picker->count(); ++i) {
                    texts << picker->itemText(i);
                }
            } else if (auto* label = qobject_cast<QLabel*>(widget)) {
                texts << label->text();
            }
            for (const QString& text : texts << oneLine) {
                EXPECT_FALSE(english.contains(text)) << text.toStdString();
            }
            EXPECT_LE(widget->fontMetrics().horizontalAdvance(oneLine), widget->contentsRect().width())
                << oneLine.toStdString() << " is clipped";
        }
    }
};

TEST_F(GermanWindowTest, MainScreenAndSignInWithItsErrorAreGermanAndNothingClips) {
    selectAlpha();
    window->show();
    ASSERT_NE(button("Aufnehmen"), nullptr);
    expectGerman(contentView());
    EXPECT_EQ(UploadFailureNotifier::summaryText(3), "3 Abschnitte konnten nicht hochgeladen werden");

    contentView()->findChild<QPushButton*>("signOut")->click();
    ASSERT_NE(window->rootView().loginView(), nullptr);
    test::runTask(env->auth().login("demo@veltrane.test", "wrong password"));
    QApplication::processEvents(); // the form's layout
    EXPECT_TRUE(window->rootView().loginView()->findChild<QLabel*>("error")->isVisibleTo(window.get()));
    expectGerman(window->rootView().loginView());

    // Messages put together below the screens read German around their parts, which are shown in turn.
    const QString closed = [] { return test::CannedHttpServer().baseURL(); }();
    env->changeServer(closed);
    test::runTask(env->auth().login("demo@veltrane.test", "demo-password"));
    const QString error = window->rootView().loginView()->findChild<QLabel*>("error")->text();
    EXPECT_TRUE(error.startsWith("Der Server " + QUrl(closed).authority() + " war nicht erreichbar ("))
        << error.toStdString();
}

TEST_F(GermanWindowTest, MessagesOfTheRecorderStorageAndUploadsReadGerman) {
    env->destination().adoptFolder("/proc", BookmarkSaving::keep, ScopedAccess::optional);
    window->show();
    EXPECT_TRUE(std::ranges::any_of(contentView()->findChildren<QLabel*>(), [](QLabel* label) {
        return label->text() == "In proc kann nicht geschrieben werden. Wählen Sie einen anderen Ordner.";
    }));
    DecodedUploadJobs damaged{.jobs = {UploadJob(), UploadJob()}, .undecodableEntries = 1, .damaged = true};
    const std::pair<std::string, QString> messages[] = {
        {*UploadQueueFile::damageText(damaged) + "; the original is kept as /q/x.json",
         "⚠️ Die Datei der Upload-Warteschlange war beschädigt: 2 Auftrag/Aufträge behalten, "
         "1 unlesbaren Eintrag beiseitegelegt (die Datei war abgeschnitten oder überschrieben); "
         "das Original ist als /q/x.json aufbewahrt"},
        {"Server answered 302 Found, pointing to https://a.test/x; redirects are not followed",
         "Der Server antwortete 302 Found und verwies auf https://a.test/x; "
         "Weiterleitungen werden nicht verfolgt"},
        {"Chunk error: " + ChunkWriterError::writerFailed(std::nullopt).localizedDescription(),
         "Abschnittsfehler: Der Abschnittsschreiber ist fehlgeschlagen: unbekannter Fehler"},
        {AuthManager::kSessionExpiredText, "Ihre Sitzung ist abgelaufen. Melden Sie sich erneut an."},
        {"Source Error: Invalid source configuration", "Quellenfehler: Ungültige Quelleneinstellung"},
    };
    for (const auto& [english, german] : messages) {
        EXPECT_EQ(shownMessage(english), german) << english;
    }
}

} // namespace
} // namespace veltrane
