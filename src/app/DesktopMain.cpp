#include "app/AppEnvironment.h"
#include "app/MainWindow.h"
#include "app/SignalWatcher.h"
#include "app/SingleInstance.h"
#include "app/Translations.h"
#include "ui/Style.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// --help and --version are answered before the application connects to a display, so that they
// work in a terminal without one (the manual page is generated from them). Returns whether one
// was answered.
bool answerInformationOption(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(
                "Usage: veltrane-recorder [--help] [--version]\n"
                "Records meeting audio (an output device or one application, optionally mixed with a\n"
                "microphone) into five-minute chunk files and uploads every chunk to the team's server.\n"
                "\n"
                "Options:\n"
                "  -h, --help     show this help and exit\n"
                "  -v, --version  show the version and exit\n"
                "\n"
                "Environment:\n"
                "  VELTRANE_SERVER_URL  the server to sign in to and upload to (plain http:// only\n"
                "                       for loopback addresses)\n"
                "\n"
                "veltrane-cli records and uploads without a window.\n",
                stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("veltrane-recorder %s\n", VELTRANE_VERSION);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    veltrane::prepareProcess();
    if (answerInformationOption(argc, argv)) {
        return 0;
    }
    QApplication app(argc, argv);
    veltrane::nameApplication();
    veltrane::installTranslations();
    QApplication::setApplicationDisplayName(QStringLiteral("VeltraneRecorder"));
    QApplication::setDesktopFileName(QStringLiteral("co.brimfold.VeltraneRecorder"));
    QApplication::setWindowIcon(veltrane::style::applicationIcon());
    // The window may hide while a recording goes on in the background; the application ends when
    // the window says everything is saved (quitReady).
    QApplication::setQuitOnLastWindowClosed(false);

    veltrane::SingleInstance instance;
    if (!instance.claim()) {
        return 0; // the running window comes to the front instead
    }

    auto chooser = std::make_shared<veltrane::DialogFolderChooser>();
    std::optional<veltrane::AppPlatform> platform;
    try {
        platform = veltrane::AppPlatform::system();
    } catch (const std::invalid_argument& error) {
        QMessageBox::critical(nullptr, QStringLiteral("VeltraneRecorder"),
                              veltrane::shownMessage(error.what()));
        return 2;
    }
    platform->folderChooser = chooser;
    veltrane::AppEnvironment env(std::move(*platform));
    veltrane::MainWindow window(env);
    chooser->setParent(&window);
    QObject::connect(&instance, &veltrane::SingleInstance::activationRequested, &window,
                     &veltrane::MainWindow::bringToFront);
    veltrane::SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &veltrane::SignalWatcher::terminationRequested, &window,
                     &veltrane::MainWindow::quitWithoutAsking);
    QObject::connect(&window, &veltrane::MainWindow::quitReady, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return QApplication::exec();
}
