// Renders every state of the window with fixed data into PNG files, on the offscreen platform:
// the stand-in server for the account, projects and meetings, a scripted sound server and
// encoders that write nothing. Usage: veltrane-screenshots OUTPUT_FOLDER
#include "app/AppTestRig.h"
#include "app/MainWindow.h"
#include "app/RootView.h"
#include "app/StatusIcon.h"
#include "app/Translations.h"
#include "support/EventLoopWait.h"
#include "ui/ContentView.h"
#include "ui/LoginView.h"
#include "ui/NewMeetingSheet.h"
#include "ui/Style.h"
#include "ui/UploadQueueView.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>

#include <iostream>

namespace veltrane {
namespace {

using test::spinFor;
using test::waitUntil;

void require(bool condition) {
    if (!condition) {
        throw std::runtime_error("a state of the window was not reached in time");
    }
}

class Renderer {
public:
    explicit Renderer(QString outputFolder) : output_(std::move(outputFolder)) {
        auto content = std::make_shared<CaptureSources>();
        content->outputs.push_back(
            {.outputID = 9, .name = kDefaultOutputDeviceName, .description = "Built-in Speakers"});
        content->outputs.push_back({.outputID = 1, .name = "speakers", .description = "Built-in Speakers"});
        content->outputs.push_back({.outputID = 2, .name = "hdmi", .description = "HDMI Monitor"});
        content->applications.push_back(
            {.processID = 4242, .applicationName = "Firefox", .binaryName = "firefox"});
        rig_.capture->sources = content;
        rig_.capture->microphoneList = {{.name = "usb-mic", .description = "USB Microphone"}};
    }
    ~Renderer() {
        window_.reset();
        env_.reset();
    }

    void run() {
        launch();
        shoot("signin");
        const QList<QLineEdit*> fields = window_->findChildren<QLineEdit*>();
        fields.at(0)->setText(QStringLiteral("demo@veltrane.test"));
        fields.at(1)->setText(QStringLiteral("wrong password"));
        signIn("demo@veltrane.test", "wrong password");
        shoot("signin-error");

        signIn("demo@veltrane.test", "demo-password");
        require(waitUntil([&] { return content() && env_->assignment().projects().size() == 2; }));
        require(waitUntil([&] { return content()->recorder().selectedSystemSource().has_value(); }));
        typeDeviceID(QStringLiteral("Studio 7"));
        shoot("main-idle");
        recordOneChunk();
        shoot("recording");

        statusMenu();
        smallScreen();

        content()->setSilenceLimit(std::chrono::seconds(1));
        for (int i = 60; i < 100; ++i) {
            rig_.capture->lastStream->deliver(static_cast<std::int64_t>(i) * 4800, 4800, 0.0f);
            rig_.capture->lastMicrophone->deliver(test::makeInt16MonoBuffer(4800, 0));
        }
        spinFor(std::chrono::milliseconds(2500));
        shoot("silent-source");
        content()->toggleRecording();
        require(waitUntil([&] { return content()->transition() == RecordTransition::none; }));

        showUploadRows();
        shoot("uploads");
        darkPalette();

        newMeetingError();
        permissionNotice();
    }

    // The window recording in German, as LANG=de_DE.UTF-8 shows it (the translation is installed).
    void runGerman() {
        launch();
        signIn("demo@veltrane.test", "demo-password");
        require(waitUntil([&] { return content() && env_->assignment().projects().size() == 2; }));
        require(waitUntil([&] { return content()->recorder().selectedSystemSource().has_value(); }));
        recordOneChunk();
        shoot("recording-de");
        content()->toggleRecording();
        require(waitUntil([&] { return content()->transition() == RecordTransition::none; }));
    }

private:
    // A folder, a project and meeting, a microphone and a valid identifier; recording until one
    // chunk is written and reported.
    void recordOneChunk() {
        std::filesystem::create_directories(root() / "Meeting recordings");
        env_->destination().adoptFolder(root() / "Meeting recordings", BookmarkSaving::keep,
                                        ScopedAccess::optional);
        env_->assignment().selectProject(env_->assignment().projects().front());
        require(waitUntil([&] { return !env_->assignment().meetings().empty(); }));
        env_->assignment().selectMeeting(QString::fromStdString(env_->assignment().meetings().back().id));
        content()->recorder().setSelectedMicrophone(rig_.capture->microphoneList.front());
        typeDeviceID(QStringLiteral("studio7"));
        content()->toggleRecording();
        require(
            waitUntil([&] { return content()->recorder().isRecording() && rig_.capture->lastMicrophone; }));
        // Six seconds of sound: one five-second chunk is finished and reported.
        for (int i = 0; i < 60; ++i) {
            rig_.capture->lastStream->deliver(static_cast<std::int64_t>(i) * 4800, 4800, 0.3f);
            rig_.capture->lastMicrophone->deliver(test::makeInt16MonoBuffer(4800, 2000));
        }
        require(waitUntil([&] { return content()->recorder().chunksWritten() >= 1; }));
        spinFor(std::chrono::milliseconds(1200)); // the clock shows a second
    }

    [[nodiscard]] std::filesystem::path root() const { return rig_.root(); }
    [[nodiscard]] ContentView* content() const { return window_->rootView().contentView(); }

    void launch() {
        env_ = rig_.launch();
        window_ = std::make_unique<MainWindow>(*env_, TrayPresence::absent);
        window_->resize(MainWindow::kDefaultSize.width(), 760);
        window_->show();
        require(waitUntil([&] { return env_->auth().state().kind() != AuthState::Kind::unknown; }));
    }

    void signIn(const char* email, const char* password) {
        bool done = false;
        auto task = env_->auth().login(QString::fromUtf8(email), QString::fromUtf8(password));
        auto finished = task.then([&] { done = true; });
        require(waitUntil([&] { return done; }));
    }

    void typeDeviceID(const QString& text) {
        for (QLineEdit* field : content()->findChildren<QLineEdit*>()) {
            if (field->accessibleName() ==
                QCoreApplication::translate("veltrane::ContentView", "Device ID")) {
                field->setText(text);
                emit field->textEdited(text);
            }
        }
    }

    void showUploadRows() {
        const auto job = [](const char* name, UploadState state, double progress, const char* error,
                            int minutesAgo) {
            UploadJob made = UploadJob::makeNew(
                name, "prj-alpha", "Alpha Research", "mtg-alpha-weekly", "Weekly sync", std::nullopt,
                ReferenceDate::fromSystemTime(std::chrono::system_clock::now()));
            made.createdAt = made.createdAt.addingSeconds(-minutesAgo * 60.0);
            made.state = state;
            made.progress = progress;
            if (error) {
                made.lastError = error;
            }
            return made;
        };
        // Fixed rows: the live queue must not redraw over them.
        auto* view = window_->findChild<UploadQueueView*>();
        QObject::disconnect(env_->uploads(), nullptr, view, nullptr);
        view->showJobs({
            job("studio7-2026-12-06-101500-chunk-004.m4a", UploadState::failed, 0,
                "Server returned status 503", 0),
            job("studio7-2026-12-06-101500-chunk-003.m4a", UploadState::uploading, 0.62, nullptr, 5),
            job("studio7-2026-12-06-101500-chunk-002.m4a", UploadState::pending, 0, nullptr, 10),
            job("studio7-2026-12-06-101500-chunk-001-START.m4a", UploadState::completed, 1, nullptr, 15),
        });
    }

    // The same screen on a dark palette (Breeze's colours), in a window built anew so that every
    // colour is taken from it; then the light window again.
    void darkPalette() {
        const QPalette light = QApplication::palette();
        QPalette dark(QColor(0xfc, 0xfc, 0xfc), QColor(0x31, 0x36, 0x3b), QColor(0x47, 0x4d, 0x54),
                      QColor(0x1b, 0x1e, 0x20), QColor(0x3b, 0x40, 0x45), QColor(0xfc, 0xfc, 0xfc),
                      QColor(0xfc, 0xfc, 0xfc), QColor(0x1b, 0x1e, 0x20), QColor(0x23, 0x26, 0x29));
        dark.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
        dark.setColor(QPalette::HighlightedText, QColor(0xfc, 0xfc, 0xfc));
        for (const QPalette& palette : {dark, light}) {
            QApplication::setPalette(palette);
            const QSize size = window_->size();
            window_.reset();
            window_ = std::make_unique<MainWindow>(*env_, TrayPresence::absent);
            window_->resize(size);
            window_->show();
            require(waitUntil([&] { return content() && content()->recorder().selectedSystemSource(); }));
            showUploadRows();
            if (palette == dark) {
                shoot("dark");
            }
        }
    }

    // The status icon's menu while recording, beside the icon as the panel shows it.
    void statusMenu() {
        StatusIcon icon;
        icon.show(StatusIconState::recording, content()->recorder().recordingTime(), 1, true);
        QMenu* menu = icon.menu();
        menu->adjustSize();
        const QPixmap menuPicture = menu->grab();
        QPixmap picture(menuPicture.width() + 48, menuPicture.height() + 40);
        picture.fill(QColor(40, 40, 44));
        QPainter painter(&picture);
        painter.drawPixmap(picture.width() - 32, 4,
                           StatusIcon::iconFor(StatusIconState::recording).pixmap(24, 24));
        painter.drawPixmap(8, 32, menuPicture);
        painter.end();
        savePixmap(picture, "status-menu");
    }

    // A laptop screen with a panel leaves little height: the middle scrolls, the bottom bar stays.
    void smallScreen() {
        const QSize size = window_->size();
        window_->resize(MainWindow::kMinimumSize.width() + 20, 520);
        shoot("small-screen");
        window_->resize(size);
    }

    void newMeetingError() {
        NewMeetingSheet sheet(env_->assignment(), window_.get());
        sheet.show();
        sheet.findChild<QLineEdit*>()->setText(QStringLiteral("Quarterly review"));
        (void)rig_.server.stop(); // the create cannot reach the server
        for (QPushButton* button : sheet.findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("Create")) {
                button->click();
            }
        }
        require(waitUntil([&] { return !sheet.isSaving(); }, std::chrono::seconds(40)));
        spinFor(std::chrono::milliseconds(100));
        save(sheet, "new-meeting-error");
    }

    void permissionNotice() {
        rig_.capture->sources =
            std::unexpected(PlatformError{.domain = "pulse",
                                          .code = 1,
                                          .localizedDescription = "The sound server declined access",
                                          .underlying = nullptr,
                                          .kind = PlatformError::Kind::permissionDenied});
        content()->recorder().refreshSources();
        require(waitUntil([&] { return content()->recorder().permissionError(); }));
        spinFor(std::chrono::milliseconds(100));
        shoot("permission");
    }

    void shoot(const char* name) {
        spinFor(std::chrono::milliseconds(150)); // layouts and meter animations settle
        save(*window_, name);
    }

    void save(QWidget& widget, const char* name) { savePixmap(widget.grab(), name); }

    void savePixmap(const QPixmap& picture, const char* name) {
        const QString path = output_ + QLatin1Char('/') + QString::fromUtf8(name) + QStringLiteral(".png");
        if (!picture.save(path)) {
            throw std::runtime_error("could not write " + path.toStdString());
        }
        std::cout << path.toStdString() << std::endl;
    }

    QString output_;
    test::AppTestRig rig_;
    std::unique_ptr<AppEnvironment> env_;
    std::unique_ptr<MainWindow> window_;
};

} // namespace
} // namespace veltrane

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("VELTRANE_CHUNK_SECONDS", "5");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VeltraneRecorder"));
    QApplication::setWindowIcon(veltrane::style::applicationIcon());
    if (argc != 2) {
        std::cerr << "usage: veltrane-screenshots OUTPUT_FOLDER" << std::endl;
        return 2;
    }
    try {
        veltrane::Renderer(QString::fromLocal8Bit(argv[1])).run();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        (void)veltrane::installTranslations(QLocale());
        veltrane::Renderer(QString::fromLocal8Bit(argv[1])).runGerman();
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        return 1;
    }
    return 0;
}
