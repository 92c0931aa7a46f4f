#include "app/MainWindow.h"

#include "app/AppEnvironment.h"
#include "app/RootView.h"
#include "platform/core/Log.h"
#include "ui/ContentView.h"
#include "ui/Style.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace veltrane {

std::optional<std::filesystem::path>
DialogFolderChooser::chooseFolder(const QString& title, const QString& acceptLabel,
                                  const std::optional<std::filesystem::path>& startFolder) {
    QFileDialog dialog(parent_, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, acceptLabel);
    if (startFolder) {
        dialog.setDirectory(QString::fromStdString(startFolder->string()));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(dialog.selectedFiles().constFirst().toStdString());
}

MainWindow::MainWindow(AppEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {
    setWindowTitle(QStringLiteral("VeltraneRecorder"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window follows its content's size; the user does not resize it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    root_ = new RootView(env_, this);
    layout->addWidget(root_);
    savingLabel_ = style::makeLabel(QStringLiteral("Saving the last chunk…"), style::captionFont(), this);
    savingLabel_->setAlignment(Qt::AlignCenter);
    savingLabel_->setContentsMargins(0, 0, 0, 12);
    savingLabel_->hide();
    layout->addWidget(savingLabel_);

    auto* record = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(record, &QShortcut::activated, this, [this] {
        if (ContentView* content = root_->contentView(); content && !quitting_) {
            content->toggleRecording();
        }
    });
    auto* quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);

    queueRetry_ = new QTimer(this);
    queueRetry_->setInterval(kQueueRetryIntervalMs);
    connect(queueRetry_, &QTimer::timeout, this, [this] {
        if (env_.takeUploadQueue()) {
            queueRetry_->stop();
        }
    });
    if (!env_.uploads()) {
        logLine("ℹ️ another VeltraneRecorder process sends the uploads; taking the queue over when it is "
                "free");
        queueRetry_->start();
    }
    // Chunks of a run that ended in a crash are finished and queued once the window is up.
    QTimer::singleShot(0, this, [this] { (void)env_.recoverInterruptedChunks(); });
}

void MainWindow::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::quitWithoutAsking() {
    beginQuit(QuitConfirmation::skip);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (readyToClose_) {
        event->accept();
        return;
    }
    event->ignore();
    beginQuit(QuitConfirmation::ask);
}

void MainWindow::beginQuit(QuitConfirmation confirmation) {
    if (quitting_) {
        return;
    }
    ContentView* content = root_->contentView();
    const bool busy = content && content->isBusy();
    // Only a running recording is worth a question; a stop under way is simply waited for.
    if (content && content->recorder().isRecording() && confirmation == QuitConfirmation::ask &&
        QMessageBox::question(this, QStringLiteral("VeltraneRecorder"), QString::fromUtf8(kQuitQuestion),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
        return;
    }
    quitting_ = true;
    if (!busy) {
        finishQuit();
        return;
    }
    root_->setEnabled(false);
    savingLabel_->show();
    content->stopAndThen([self = QPointer<MainWindow>(this)] {
        if (self) {
            self->finishQuit();
        }
    });
}

void MainWindow::finishQuit() {
    handOverUploads();
    readyToClose_ = true;
    close();
    emit quitReady();
}

std::filesystem::path MainWindow::uploaderLogPath() {
    const QByteArray stateHome = qgetenv("XDG_STATE_HOME");
    const std::filesystem::path base =
        !stateHome.isEmpty() ? std::filesystem::path(stateHome.toStdString())
                             : std::filesystem::path(QDir::homePath().toStdString()) / ".local/state";
    return base / "VeltraneRecorder" / "uploads.log";
}

void MainWindow::handOverUploads() {
    UploadManager* uploads = env_.uploads();
    if (!uploads) {
        return;
    }
    const auto& jobs = uploads->jobs();
    const bool unfinished = std::any_of(jobs.begin(), jobs.end(), [](const UploadJob& job) {
        return job.state == UploadState::pending || job.state == UploadState::uploading;
    });
    if (!unfinished) {
        return;
    }
    // The uploader takes the queue over once this process has let it go.
    env_.releaseUploadQueue();
    const std::filesystem::path log = uploaderLogPath();
    (void)QDir().mkpath(QString::fromStdString(log.parent_path().string()));
    QProcess uploader;
    uploader.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/veltrane-cli"));
    uploader.setArguments({QStringLiteral("upload"), QStringLiteral("--wait")});
    uploader.setStandardOutputFile(QString::fromStdString(log.string()), QIODevice::Append);
    uploader.setStandardErrorFile(QString::fromStdString(log.string()), QIODevice::Append);
    uploader.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (uploader.startDetached(&pid)) {
        logLine("ℹ️ unfinished uploads continue in the background (process " + std::to_string(pid) +
                ", log " + log.string() + ")");
    } else {
        logLine("⚠️ could not start the background uploader; the uploads continue at the next start");
    }
}

} // namespace veltrane
