#include "app/MainWindow.h"

#include "app/AppEnvironment.h"
#include "app/RootView.h"
#include "app/StatusIcon.h"
#include "app/Translations.h"
#include "app/UploadFailureNotifier.h"
#include "platform/core/Log.h"
#include "platform/desktop/DesktopNotifications.h"
#include "ui/ContentView.h"
#include "ui/Style.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

namespace veltrane {

std::optional<std::filesystem::path>
DialogFolderChooser::chooseFolder(const QString& title, const QString& acceptLabel,
                                  const std::optional<std::filesystem::path>& startFolder) {
    QFileDialog dialog(parent_, shownMessage(title.toStdString()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, shownMessage(acceptLabel.toStdString()));
    if (startFolder) {
        dialog.setDirectory(QString::fromStdString(startFolder->string()));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(dialog.selectedFiles().constFirst().toStdString());
}

MainWindow::MainWindow(AppEnvironment& env, TrayPresence tray, QWidget* parent) : QWidget(parent), env_(env) {
    setWindowTitle(titleText(false, QString()));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // At least the least size, and larger where the screen shown needs more in the current font.
    layout->setColumnMinimumWidth(0, kMinimumSize.width());
    layout->setRowMinimumHeight(0, kMinimumSize.height());
    layout->setRowStretch(0, 1);
    root_ = new RootView(env_, this);
    layout->addWidget(root_, 0, 0);
    savingLabel_ = style::makeLabel(tr("Saving the last chunk…"), style::captionFont(), this);
    savingLabel_->setAlignment(Qt::AlignCenter);
    savingLabel_->setContentsMargins(0, 0, 0, 12);
    savingLabel_->hide();
    layout->addWidget(savingLabel_, 1, 0);

    auto* record = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(record, &QShortcut::activated, this, [this] {
        if (content_ && !quitting_ && (!content_->isHidden() || content_->recorder().isRecording())) {
            content_->toggleRecording();
        }
    });
    auto* quit = new QShortcut(QKeySequence::Quit, this);
    connect(quit, &QShortcut::activated, this, &QWidget::close);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &MainWindow::showHelp);

    notifications_ = new DesktopNotifications(this);
    failureNotifier_ = new UploadFailureNotifier(*notifications_, this);
    failureNotifier_->watch(env_.uploads());
    connect(&env_, &AppEnvironment::uploadsChanged, this, [this] {
        failureNotifier_->watch(env_.uploads());
        if (env_.uploads()) {
            connect(env_.uploads(), &UploadManager::jobsChanged, this, &MainWindow::refreshPresence);
        }
        refreshPresence();
    });
    if (env_.uploads()) {
        connect(env_.uploads(), &UploadManager::jobsChanged, this, &MainWindow::refreshPresence);
    }
    connect(&env_.auth(), &AuthManager::sessionExpired, this, &MainWindow::sessionExpired);
    // After the root view has swapped the screens: the status icon's Start follows the main screen.
    connect(&env_.auth(), &AuthManager::stateChanged, this, &MainWindow::refreshPresence);
    connect(root_, &RootView::contentChanged, this, &MainWindow::contentChanged);
    contentChanged();

    if (tray == TrayPresence::detect && StatusIcon::isAvailable()) {
        statusIcon_ = new StatusIcon(this);
        connect(statusIcon_, &StatusIcon::showWindowRequested, this, &MainWindow::bringToFront);
        connect(statusIcon_, &StatusIcon::toggleRecordingRequested, this, [this] {
            if (content_ && !quitting_ && (!content_->isHidden() || content_->recorder().isRecording())) {
                content_->toggleRecording();
            }
        });
        connect(statusIcon_, &StatusIcon::quitRequested, this,
                [this] { beginQuit(QuitConfirmation::ask, false); });
    }
    refreshPresence();

    queueRetry_ = new QTimer(this);
    queueRetry_->setInterval(kQueueRetryIntervalMs);
    connect(queueRetry_, &QTimer::timeout, this, [this] {
        if (env_.takeUploadQueue()) {
            queueRetry_->stop();
        }
    });
    if (!env_.uploads()) {
        logInfo(lcApp(),
                "ℹ️ another VeltraneRecorder process sends the uploads; taking the queue over when it is "
                "free");
        queueRetry_->start();
    }
    restoreWindowGeometry();
    // Chunks of a run that ended in a crash are finished and queued once the window is up.
    QTimer::singleShot(0, this, [this] { (void)env_.recoverInterruptedChunks(); });
}

MainWindow::~MainWindow() = default;

QRect MainWindow::fittedGeometry(const std::optional<QRect>& remembered, const QRect& available,
                                 QSize minimum, QSize defaultSize, QMargins frame) {
    const QRect room = available.marginsRemoved(frame);
    QSize size = remembered ? remembered->size() : defaultSize;
    size = size.boundedTo(room.size()).expandedTo(minimum);
    QPoint topLeft = remembered ? remembered->topLeft()
                                : QPoint(room.left() + (room.width() - size.width()) / 2,
                                         room.top() + (room.height() - size.height()) / 2);
    topLeft.setX(std::max(room.left(), std::min(topLeft.x(), room.right() + 1 - size.width())));
    topLeft.setY(std::max(room.top(), std::min(topLeft.y(), room.bottom() + 1 - size.height())));
    return {topLeft, size};
}

QString MainWindow::titleText(bool recording, const QString& elapsed) {
    return recording ? tr("● Recording %1 — VeltraneRecorder").arg(elapsed)
                     : QStringLiteral("VeltraneRecorder");
}

void MainWindow::restoreWindowGeometry() {
    // Remembered: the frame's top-left corner (where the window manager puts the window) and the
    // size of the window's content.
    const auto& defaults = *env_.userDefaults();
    std::optional<QRect> remembered;
    if (const auto text = defaults.string(QString::fromLatin1(kGeometryKey))) {
        const QStringList parts = text->split(QLatin1Char(' '));
        if (parts.size() == 4) {
            remembered = QRect(parts[0].toInt() + kAssumedFrame.left(),
                               parts[1].toInt() + kAssumedFrame.top(), parts[2].toInt(), parts[3].toInt());
        }
    }
    QScreen* target = QGuiApplication::primaryScreen();
    const QString screenName = defaults.string(QString::fromLatin1(kScreenKey)).value_or(QString());
    for (QScreen* candidate : QGuiApplication::screens()) {
        if (candidate->name() == screenName) {
            target = candidate;
        }
    }
    if (!target) {
        return;
    }
    if (remembered && !target->geometry().intersects(*remembered)) {
        remembered->moveTopLeft(target->availableGeometry().topLeft()); // the remembered place is gone
    }
    place(fittedGeometry(remembered, target->availableGeometry(), minimumSize(), kDefaultSize, kAssumedFrame),
          kAssumedFrame);
}

void MainWindow::place(const QRect& content, const QMargins& frame) {
    // A top-level window is moved by its frame: the window manager keeps that corner.
    resize(content.size());
    move(content.topLeft() - QPoint(frame.left(), frame.top()));
}

void MainWindow::fitIntoScreen() {
    // Now that the window manager has framed the window, its real frame is known.
    QScreen* current = screen();
    if (!current || isMaximized() || isFullScreen()) {
        return;
    }
    const QRect frameRect = frameGeometry();
    const QRect client = geometry();
    const QMargins frame(client.left() - frameRect.left(), client.top() - frameRect.top(),
                         frameRect.right() - client.right(), frameRect.bottom() - client.bottom());
    if (frame.isNull()) {
        return; // not framed (yet)
    }
    const QRect content(pos() + QPoint(frame.left(), frame.top()), size());
    const QRect fitted =
        fittedGeometry(content, current->availableGeometry(), minimumSize(), kDefaultSize, frame);
    if (fitted != content) {
        place(fitted, frame);
    }
}

void MainWindow::saveWindowGeometry() {
    if (isMaximized() || isFullScreen() || !isVisible()) {
        return;
    }
    env_.userDefaults()->setString(
        QString::fromLatin1(kGeometryKey),
        QStringLiteral("%1 %2 %3 %4").arg(pos().x()).arg(pos().y()).arg(width()).arg(height()));
    if (screen()) {
        env_.userDefaults()->setString(QString::fromLatin1(kScreenKey), screen()->name());
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!std::exchange(fittedOnce_, true)) {
        QTimer::singleShot(200, this, &MainWindow::fitIntoScreen);
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::WindowStateChange) {
        refreshPresence();
    }
}

void MainWindow::contentChanged() {
    ContentView* content = root_->contentView();
    if (!content || content == content_) {
        return;
    }
    content_ = content;
    AudioRecorder* recorder = &content->recorder();
    connect(recorder, &AudioRecorder::isRecordingChanged, this, &MainWindow::refreshPresence);
    connect(recorder, &AudioRecorder::recordingTimeChanged, this, &MainWindow::refreshPresence);
    connect(content, &ContentView::helpRequested, this, &MainWindow::showHelp);
    connect(content, &ContentView::aboutRequested, this, &MainWindow::showAbout);
    connect(content, &ContentView::recordingStoppedByItself, this, [this](const QString& reason) {
        notifications_->notify(tr("The recording stopped"), reason, NotificationUrgency::critical);
    });
    connect(content, &ContentView::silenceWarningShown, this, [this](const QString& text) {
        if (!isActiveWindow()) {
            notifications_->notify(tr("Nothing heard"), text);
        }
    });
    refreshPresence();
}

int MainWindow::unsentUploadCount() {
    const UploadManager* uploads = env_.uploads();
    if (!uploads) {
        return 0;
    }
    return static_cast<int>(
        std::count_if(uploads->jobs().begin(), uploads->jobs().end(), [](const UploadJob& job) {
            return job.state == UploadState::pending || job.state == UploadState::uploading;
        }));
}

void MainWindow::refreshPresence() {
    const bool recording = content_ && content_->recorder().isRecording();
    const QString elapsed = recording ? content_->recorder().recordingTime() : QString();
    const QString title = titleText(recording, elapsed);
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
    if (statusIcon_) {
        const int unsent = unsentUploadCount();
        const bool uploading =
            env_.uploads() &&
            std::any_of(env_.uploads()->jobs().begin(), env_.uploads()->jobs().end(),
                        [](const UploadJob& job) { return job.state == UploadState::uploading; });
        const StatusIconState state = recording   ? StatusIconState::recording
                                      : uploading ? StatusIconState::uploading
                                                  : StatusIconState::idle;
        // A recording starts only from the main screen (not behind the sign-in form); a stop always works.
        statusIcon_->show(state, elapsed, unsent, content_ && !content_->isHidden() && !quitting_);
    }
}

void MainWindow::sessionExpired() {
    const int waiting = unsentUploadCount();
    if (waiting > 0 || !isVisible() || !isActiveWindow()) {
        notifications_->notify(tr("Your session has expired"),
                               waiting > 0
                                   ? tr("%n upload(s) wait until you sign in again.", nullptr, waiting)
                                   : tr("Sign in again to go on."),
                               NotificationUrgency::critical);
    }
}

QString MainWindow::helpText(const QString& chunkFolder, const QString& queueFile,
                             const QString& uploaderLog) {
    return tr("<h3>Keyboard shortcuts</h3>"
              "<table cellspacing=4>"
              "<tr><td><b>Ctrl+R</b></td><td>Start or stop recording</td></tr>"
              "<tr><td><b>Ctrl+Q</b></td><td>Quit (asks first while recording)</td></tr>"
              "<tr><td><b>F1</b></td><td>This help</td></tr></table>"
              "<h3>Where things are</h3>"
              "<p><b>Chunks</b> (5-minute audio files): %1</p>"
              "<p><b>Upload queue</b>: %2</p>"
              "<p><b>Background uploader's log</b> (uploads that go on after the window "
              "closes): %3</p>")
        .arg(chunkFolder.toHtmlEscaped(), queueFile.toHtmlEscaped(), uploaderLog.toHtmlEscaped());
}

QString MainWindow::aboutText() {
    return tr("<h3>VeltraneRecorder %1</h3>"
              "<p>Records meeting audio in chunks and uploads them to Veltrane.</p>"
              "<p>Licence: proprietary, all rights reserved.</p>"
              "<p>Built with Qt %2 (running %3), QCoro %4, libpulse %5, FFmpeg libavformat %6, "
              "libsecret %7.</p>")
        .arg(QStringLiteral(VELTRANE_VERSION), QStringLiteral(QT_VERSION_STR),
             QString::fromLatin1(qVersion()), QStringLiteral(VELTRANE_QCORO_VERSION),
             QStringLiteral(VELTRANE_PULSE_VERSION), QStringLiteral(VELTRANE_AVFORMAT_VERSION),
             QStringLiteral(VELTRANE_SECRET_VERSION));
}

void MainWindow::showHelp() {
    const auto& folder = env_.destination().url();
    const UploadManager* uploads = env_.uploads();
    const std::filesystem::path queue =
        uploads ? uploads->queueFilePath() : env_.applicationDataDirectory() / "upload_queue.json";
    QMessageBox box(QMessageBox::NoIcon, tr("Help"),
                    helpText(folder ? QString::fromStdString(folder->string()) : tr("none chosen yet"),
                             QString::fromStdString(queue.string()),
                             QString::fromStdString(uploaderLogPath().string())),
                    QMessageBox::Close, this);
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

void MainWindow::showAbout() {
    QMessageBox box(QMessageBox::NoIcon, tr("About VeltraneRecorder"), aboutText(), QMessageBox::Close, this);
    box.setIconPixmap(style::applicationIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void MainWindow::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void MainWindow::quitWithoutAsking() {
    beginQuit(QuitConfirmation::skip, false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (readyToClose_) {
        event->accept();
        return;
    }
    event->ignore();
    beginQuit(QuitConfirmation::ask, statusIcon_ != nullptr);
}

QuitChoice MainWindow::askAboutRecording(bool offerBackground) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("VeltraneRecorder"), tr(kQuitQuestion),
                    QMessageBox::NoButton, isVisible() ? this : nullptr);
    box.setInformativeText(offerBackground
                               ? tr("It can go on in the background: the status icon stays in the "
                                    "panel. Or stop it, save the last chunk and quit.")
                               : tr("Stop it, save the last chunk and quit?"));
    QPushButton* keep = offerBackground
                            ? box.addButton(tr("&Keep Recording in Background"), QMessageBox::AcceptRole)
                            : nullptr;
    QPushButton* stop = box.addButton(tr("&Stop and Quit"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(keep ? keep : cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (keep && box.clickedButton() == keep) {
        return QuitChoice::keepInBackground;
    }
    return box.clickedButton() == stop ? QuitChoice::stopAndQuit : QuitChoice::cancel;
}

void MainWindow::beginQuit(QuitConfirmation confirmation, bool offerBackground) {
    if (quitting_) {
        return;
    }
    ContentView* content = root_->contentView();
    const bool busy = content && content->isBusy();
    // Only a running recording is worth a question; a stop under way is simply waited for.
    if (content && content->recorder().isRecording() && confirmation == QuitConfirmation::ask) {
        switch (askAboutRecording(offerBackground && statusIcon_ != nullptr)) {
        case QuitChoice::keepInBackground:
            saveWindowGeometry();
            hide();
            logInfo(lcApp(), "ℹ️ the recording goes on in the background");
            return;
        case QuitChoice::cancel:
            return;
        case QuitChoice::stopAndQuit:
            break;
        }
    }
    saveWindowGeometry();
    quitting_ = true;
    refreshPresence();
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
        logInfo(lcApp(), "ℹ️ unfinished uploads continue in the background (process " +
                             std::to_string(pid) + ", log " + log.string() + ")");
    } else {
        logWarning(lcApp(),
                   "⚠️ could not start the background uploader; the uploads continue at the next start");
    }
}

} // namespace veltrane
