#include "app/AppEnvironment.h"
#include "app/MainWindow.h"
#include "app/SignalWatcher.h"
#include "app/SingleInstance.h"
#include "ui/Style.h"

#include <QApplication>
#include <QMessageBox>

#include <stdexcept>

int main(int argc, char** argv) {
    veltrane::prepareProcess();
    QApplication app(argc, argv);
    veltrane::nameApplication();
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
        QMessageBox::critical(nullptr, QStringLiteral("VeltraneRecorder"), QString::fromUtf8(error.what()));
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
