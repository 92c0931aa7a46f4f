#include "ui/ContentView.h"

#include "app/AppEnvironment.h"
#include "app/Translations.h"
#include "storage/ChunkFileName.h"
#include "ui/AssignmentView.h"
#include "ui/ElidingLabel.h"
#include "ui/LevelMeter.h"
#include "ui/RecordingDot.h"
#include "ui/Style.h"
#include "ui/UploadQueueView.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace veltrane {

namespace {

constexpr int kLabelColumnPx = 64;
constexpr int kSymbolColumnPx = 20;
constexpr int kGainStepsPerUnit = 10; // the sliders move in steps of 0.1

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* makeSymbol(style::Symbol symbol, const QColor& tint, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedWidth(kSymbolColumnPx);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(style::symbolPixmap(symbol, 16, tint, parent->devicePixelRatioF()));
    return label;
}

QLabel* makeColumnLabel(const QString& text, QWidget* parent) {
    QLabel* label = style::makeLabel(text, style::captionFont(), parent);
    // As wide as the longest label of the column in the current font, so none clips when the
    // font is large and the fields still line up.
    const QFontMetrics metrics(label->font());
    int widthPx = kLabelColumnPx;
    for (const char* title : {QT_TRANSLATE_NOOP("veltrane::ContentView", "Device ID"),
                              QT_TRANSLATE_NOOP("veltrane::ContentView", "Folder"),
                              QT_TRANSLATE_NOOP("veltrane::ContentView", "Chunks")}) {
        widthPx = std::max(
            widthPx,
            metrics.horizontalAdvance(QCoreApplication::translate("veltrane::ContentView", title)) + 4);
    }
    label->setFixedWidth(widthPx);
    return label;
}

QSlider* makeGainSlider(QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(0, 2 * kGainStepsPerUnit);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    return slider;
}

// The sections' side margins.
void padded(QLayout* layout) {
    layout->setContentsMargins(16, 0, 16, 0);
}

// A gain row: symbol, name, slider and percentage; `slider` and `text` receive the row's two
// moving parts.
QWidget* makeGainRow(style::Symbol symbol, const QString& name, const QString& spokenName, QSlider*& slider,
                     QLabel*& text, QWidget* parent) {
    const QColor secondary = style::secondaryTextColor(parent->palette());
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(makeSymbol(symbol, secondary, row));
    QLabel* label = style::makeLabel(name, style::smallCaptionFont(), row);
    label->setMinimumWidth(60);
    layout->addWidget(label);
    slider = makeGainSlider(row);
    slider->setAccessibleName(
        QCoreApplication::translate("veltrane::ContentView", "%1 gain").arg(spokenName));
    slider->setAccessibleDescription(
        QCoreApplication::translate("veltrane::ContentView", "Above 100% the recording may clip"));
    layout->addWidget(slider, 1);
    text = style::makeLabel(QString(), style::monospacedFont(style::captionFont()), row);
    text->setMinimumWidth(QFontMetrics(text->font()).horizontalAdvance(QStringLiteral("200%")) + 4);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(text);
    return row;
}

void showGain(QSlider& slider, QLabel& text, double gain) {
    const QSignalBlocker blocker(slider);
    slider.setValue(static_cast<int>(std::lround(gain * kGainStepsPerUnit)));
    text.setText(ContentView::gainPercentText(gain));
    // Above unity the slider turns orange: the recording may clip. The accent comes from the row
    // around the slider, since the slider's own palette may still hold the orange.
    const QPalette& surrounding = slider.parentWidget()->palette();
    const QColor highlight = gain > 1.0 ? style::orangeColor(surrounding) : style::accentColor(surrounding);
    if (slider.palette().color(QPalette::Highlight) != highlight) {
        QPalette palette = slider.palette();
        palette.setColor(QPalette::Highlight, highlight);
        slider.setPalette(palette);
    }
}

} // namespace

QString ContentView::gainPercentText(double gain) {
    // Gains are stored as floats: 0.7 arrives as 0.69999999, which must still read 70%.
    return QString::number(static_cast<long long>(std::trunc(gain * 100.0 + 1e-4))) + QLatin1Char('%');
}

bool ContentView::canStartRecording(const QString& deviceID, bool hasFolder, bool hasSource,
                                    bool hasProject) {
    return isValidDeviceID(deviceID) && hasFolder && hasSource && hasProject;
}

double ContentView::chunkDurationSeconds(const QByteArray& variable) {
    bool ok = false;
    const double seconds = variable.toDouble(&ok);
    return ok && seconds >= 5 && seconds <= 3600 ? seconds : kChunkDurationSeconds;
}

std::optional<std::pair<QString, QStringList>> ContentView::soundSettingsCommand() {
    const std::vector<std::pair<QString, QStringList>> panels = {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("pavucontrol"), {}},
    };
    for (const auto& [program, arguments] : panels) {
        const QString path = QStandardPaths::findExecutable(program);
        if (!path.isEmpty()) {
            return std::pair(path, arguments);
        }
    }
    return std::nullopt;
}

QString ContentView::silenceWarningText(const QString& sourceName) {
    // The source cannot be changed while recording: the advice is what can be done right now.
    return tr("Nothing has been heard from %1 for 30 seconds. Check that the meeting plays "
              "through it and is not muted.")
        .arg(sourceName);
}

ContentView::ContentView(AppEnvironment& env, std::unique_ptr<AudioRecorder> recorder,
                         QString defaultDeviceID, QWidget* parent)
    : QWidget(parent), env_(env), recorder_(std::move(recorder)),
      defaultDeviceID_(std::move(defaultDeviceID)) {
    buildLayout();

    AudioRecorder* rec = recorder_.get();
    connect(rec, &AudioRecorder::isRecordingChanged, this, &ContentView::recordingChanged);
    connect(rec, &AudioRecorder::recordingTimeChanged, this, &ContentView::refreshControls);
    connect(rec, &AudioRecorder::permissionErrorChanged, this, &ContentView::refreshControls);
    connect(rec, &AudioRecorder::errorMessageChanged, this, [this] {
        // A start that fails ends with an error and no recording.
        if (transition_ == RecordTransition::starting && !recorder_->errorMessage().isNull() &&
            !recorder_->isRecording()) {
            setTransition(RecordTransition::none);
        }
        refreshErrors();
    });
    connect(rec, &AudioRecorder::statusNoticeChanged, this, [this] {
        serverNotice_->setText(recorder_->statusNotice());
        serverNotice_->setVisible(!recorder_->statusNotice().isNull());
    });
    connect(rec, &AudioRecorder::systemSourcesChanged, this, &ContentView::refreshSources);
    connect(rec, &AudioRecorder::selectedSystemSourceChanged, this, &ContentView::refreshSources);
    connect(rec, &AudioRecorder::microphonesChanged, this, &ContentView::refreshSources);
    connect(rec, &AudioRecorder::selectedMicrophoneChanged, this, &ContentView::refreshSources);
    connect(rec, &AudioRecorder::systemGainChanged, this, &ContentView::refreshLevels);
    connect(rec, &AudioRecorder::microphoneGainChanged, this, &ContentView::refreshLevels);
    // Levels change many times a second: they only move the meters.
    connect(rec, &AudioRecorder::systemLevelChanged, this, &ContentView::refreshMeters);
    connect(rec, &AudioRecorder::micLevelChanged, this, &ContentView::refreshMeters);
    connect(rec, &AudioRecorder::chunksWrittenChanged, this, &ContentView::refreshChunkRow);
    connect(rec, &AudioRecorder::lastChunkNameChanged, this, &ContentView::refreshChunkRow);
    connect(&env_.destination(), &RecordingDestination::urlChanged, this, &ContentView::refreshControls);
    connect(&env_.destination(), &RecordingDestination::errorMessageChanged, this,
            &ContentView::refreshErrors);
    connect(&env_.assignment(), &AssignmentModel::selectedProjectChanged, this,
            &ContentView::refreshControls);
    // A chunk recovered after a crash is filed as the chunk being written is at that moment.
    for (const auto changed :
         {&AssignmentModel::selectedProjectChanged, &AssignmentModel::selectedMeetingChanged}) {
        connect(&env_.assignment(), changed, this, [this] { recorder_->setChunkFiling(currentFiling()); });
    }
    connect(&env_, &AppEnvironment::uploadsChanged, this,
            [this] { uploadQueue_->setManager(env_.uploads()); });

    silenceTimer_ = new QTimer(this);
    silenceTimer_->setInterval(1000);
    connect(silenceTimer_, &QTimer::timeout, this, &ContentView::checkSilence);

    // Start-up: the chunk hand-off, then the sources and the remembered picks.
    env_.fileChunksOf(*recorder_);
    refreshSources();
    refreshLevels();
    refreshChunkRow();
    refreshErrors();
    refreshControls();
    recorder_->refreshSources();
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The screen opens with its first control focused, unless the user is already in it.
    if (focusWidget() == nullptr || !isAncestorOf(focusWidget())) {
        (permissionNotice_->isVisible() ? static_cast<QWidget*>(settingsButton_) : sourcePicker_)->setFocus();
    }
}

ContentView::~ContentView() = default;

QString ContentView::deviceID() const {
    return env_.userDefaults()->string(QString::fromLatin1(kDeviceIDKey)).value_or(defaultDeviceID_);
}

void ContentView::buildLayout() {
    setMinimumWidth(kWidthPx);
    // The account bar and the bottom bar (format, Record/Stop) always show; everything between
    // them scrolls when the window is too low for it.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(buildAccountBar());
    outer->addWidget(makeDivider(this));
    scrollArea_ = new QScrollArea(this);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setFocusPolicy(Qt::NoFocus); // no Tab stop of its own: it scrolls to the focused control
    auto* scrolled = new QWidget(scrollArea_);
    auto* column = new QVBoxLayout(scrolled);
    column->setContentsMargins(0, 12, 0, 12);
    column->setSpacing(12);
    column->addLayout(buildHeader());
    column->addWidget(makeDivider(this));
    column->addWidget(buildPermissionNotice());
    buildWorkingArea(*column);
    // Takes the room the working area leaves when the permission notice stands in for it.
    column->addStretch(0);
    scrollArea_->setWidget(scrolled);
    outer->addWidget(scrollArea_, 1);
    outer->addWidget(makeDivider(this));
    outer->addWidget(buildBottomBar());
}

QLayout* ContentView::buildHeader() {
    // Header: the dot and the title or the elapsed time.
    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addStretch();
    recordingDot_ = new RecordingDot(this);
    header->addWidget(recordingDot_);
    titleLabel_ = new QLabel(tr("Audio Recorder"), this);
    QFont titleFont = style::monospacedFont(font());
    titleFont.setBold(true);
    titleLabel_->setFont(titleFont);
    header->addWidget(titleLabel_);
    header->addStretch();
    return header;
}

QWidget* ContentView::buildPermissionNotice() {
    // The permission notice stands in for the working area while the sound server refuses access.
    permissionNotice_ = new QWidget(this);
    auto* notice = new QVBoxLayout(permissionNotice_);
    notice->setContentsMargins(16, 12, 16, 12);
    notice->setSpacing(10);
    notice->setAlignment(Qt::AlignHCenter);
    QLabel* required = style::makeLabel(tr("Permission Required"), font(), permissionNotice_);
    QFont bold = font();
    bold.setBold(true);
    required->setFont(bold);
    required->setAlignment(Qt::AlignCenter);
    style::setTextColor(*required, style::redColor(palette()));
    notice->addWidget(required);
    settingsButton_ = new QPushButton(tr("Open System Settings"), permissionNotice_);
    const auto settings = soundSettingsCommand();
    if (settings) {
        connect(settingsButton_, &QPushButton::clicked, this,
                [settings] { (void)QProcess::startDetached(settings->first, settings->second); });
    } else {
        settingsButton_->setEnabled(false);
        settingsButton_->setToolTip(tr("No sound settings panel is installed (GNOME Settings, KDE "
                                       "System Settings or PulseAudio Volume Control)."));
    }
    notice->addWidget(settingsButton_, 0, Qt::AlignHCenter);
    return permissionNotice_;
}

void ContentView::buildWorkingArea(QVBoxLayout& column) {
    workingArea_ = new QWidget(this);
    auto* work = new QVBoxLayout(workingArea_);
    work->setContentsMargins(0, 0, 0, 0);
    work->setSpacing(12);
    column.addWidget(workingArea_, 1);

    // Sources, gains and meters.
    auto* sources = new QVBoxLayout;
    padded(sources);
    sources->setSpacing(8);
    buildSourcePickers(*sources);
    sources->addWidget(makeDivider(this));
    buildGainRows(*sources);
    sources->addWidget(makeDivider(this));
    buildMeters(*sources);
    work->addLayout(sources);
    work->addWidget(makeDivider(this));

    // Project and meeting.
    auto* assignment = new QVBoxLayout;
    padded(assignment);
    assignmentView_ = new AssignmentView(env_.assignment(), this);
    assignment->addWidget(assignmentView_);
    work->addLayout(assignment);
    work->addWidget(makeDivider(this));

    // Device identifier, folder and chunks.
    auto* settingsBox = new QVBoxLayout;
    padded(settingsBox);
    settingsBox->setSpacing(6);
    buildDeviceRows(*settingsBox);
    buildFolderRows(*settingsBox);
    settingsBox->addWidget(buildChunkRow());
    work->addLayout(settingsBox);
    work->addWidget(makeDivider(this));

    // Upload queue.
    auto* uploads = new QVBoxLayout;
    padded(uploads);
    uploadQueue_ = new UploadQueueView(env_.uploads(), this);
    uploads->addWidget(uploadQueue_);
    // The upload list takes whatever height the window has left.
    work->addLayout(uploads, 1);
}

void ContentView::buildSourcePickers(QVBoxLayout& sources) {
    const QColor secondary = style::secondaryTextColor(palette());
    auto* sourceRow = new QHBoxLayout;
    QLabel* sourceSymbol = makeSymbol(style::Symbol::display, secondary, this);
    sourceRow->addWidget(sourceSymbol);
    sourcePicker_ = new QComboBox(this);
    sourcePicker_->setAccessibleName(tr("System audio source"));
    sourcePicker_->setAccessibleDescription(tr("The output device or program whose sound is recorded"));
    sourcePicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    sourcePicker_->setMinimumContentsLength(20);
    sourceRow->addWidget(sourcePicker_, 1);
    sources.addLayout(sourceRow);
    auto* micRow = new QHBoxLayout;
    QLabel* microphoneSymbol = makeSymbol(style::Symbol::microphone, secondary, this);
    micRow->addWidget(microphoneSymbol);
    microphonePicker_ = new QComboBox(this);
    microphonePicker_->setAccessibleName(tr("Microphone"));
    microphonePicker_->setAccessibleDescription(tr("Mixed into the recording unless No Microphone"));
    microphonePicker_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    microphonePicker_->setMinimumContentsLength(20);
    micRow->addWidget(microphonePicker_, 1);
    sources.addLayout(micRow);
    // Screen readers on Linux speak a picker's value as its name and what it picks through the
    // label it is labelled by: the symbols in front of the pickers are those labels.
    for (const auto& [symbol, picker] :
         {std::pair(sourceSymbol, sourcePicker_), std::pair(microphoneSymbol, microphonePicker_)}) {
        symbol->setAccessibleName(picker->accessibleName());
        symbol->setBuddy(picker);
    }
    connect(sourcePicker_, &QComboBox::activated, this, &ContentView::systemSourceChosen);
    connect(microphonePicker_, &QComboBox::activated, this, &ContentView::microphoneChosen);
}

void ContentView::buildGainRows(QVBoxLayout& sources) {
    sources.addWidget(makeGainRow(style::Symbol::speaker, tr("System"), tr("System audio"), systemGainSlider_,
                                  systemGainText_, this));
    microphoneGainRow_ = makeGainRow(style::Symbol::microphone, tr("Mic"), tr("Microphone"),
                                     microphoneGainSlider_, microphoneGainText_, this);
    sources.addWidget(microphoneGainRow_);
    connect(systemGainSlider_, &QSlider::valueChanged, this,
            [this](int value) { recorder_->setSystemGain(static_cast<float>(value) / kGainStepsPerUnit); });
    connect(microphoneGainSlider_, &QSlider::valueChanged, this, [this](int value) {
        recorder_->setMicrophoneGain(static_cast<float>(value) / kGainStepsPerUnit);
    });
}

void ContentView::buildMeters(QVBoxLayout& sources) {
    systemMeter_ = new LevelMeter(tr("System"), this);
    microphoneMeter_ = new LevelMeter(tr("Mic"), this);
    systemMeter_->setAccessibleName(tr("System audio level"));
    microphoneMeter_->setAccessibleName(tr("Microphone level"));
    sources.addWidget(systemMeter_);
    sources.addWidget(microphoneMeter_);
    silenceWarning_ = style::makeLabel(QString(), style::smallCaptionFont(), this);
    silenceWarning_->setWordWrap(true);
    style::setTextColor(*silenceWarning_, style::orangeColor(palette()));
    silenceWarning_->hide();
    sources.addWidget(silenceWarning_);
    serverNotice_ = style::makeLabel(QString(), style::smallCaptionFont(), this);
    style::setTextColor(*serverNotice_, style::orangeColor(palette()));
    serverNotice_->hide();
    sources.addWidget(serverNotice_);
}

void ContentView::buildDeviceRows(QVBoxLayout& settingsBox) {
    auto* deviceRow = new QHBoxLayout;
    deviceRow->addWidget(makeColumnLabel(tr("Device ID"), this));
    deviceField_ = new QLineEdit(this);
    deviceField_->setPlaceholderText(QStringLiteral("linux001"));
    deviceField_->setFont(style::monospacedFont(style::captionFont()));
    deviceField_->setAccessibleName(tr("Device ID"));
    deviceField_->setAccessibleDescription(
        tr("Letters and digits, ending in a digit; starts every chunk's file name"));
    deviceField_->setText(deviceID());
    deviceRow->addWidget(deviceField_, 1);
    deviceWarningIcon_ = makeSymbol(style::Symbol::warning, style::orangeColor(palette()), this);
    // Keeps its place when hidden, so the field does not change width while typing.
    QSizePolicy keepSpace = deviceWarningIcon_->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    deviceWarningIcon_->setSizePolicy(keepSpace);
    deviceRow->addWidget(deviceWarningIcon_);
    settingsBox.addLayout(deviceRow);
    connect(deviceField_, &QLineEdit::textEdited, this, &ContentView::deviceIDEdited);
    deviceHint_ = style::makeLabel(tr("Use letters and digits only, ending in a digit (e.g. linux001): the "
                                      "ID starts every chunk's file name. Record stays off until it fits."),
                                   style::smallCaptionFont(), this);
    deviceHint_->setWordWrap(true);
    style::setTextColor(*deviceHint_, style::orangeColor(palette()));
    settingsBox.addWidget(deviceHint_);
}

void ContentView::buildFolderRows(QVBoxLayout& settingsBox) {
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(makeColumnLabel(tr("Folder"), this));
    folderName_ = new ElidingLabel(this);
    folderName_->setFont(style::captionFont());
    folderRow->addWidget(folderName_, 1);
    chooseButton_ = new QPushButton(tr("Choose"), this);
    chooseButton_->setAccessibleName(tr("Choose folder"));
    chooseButton_->setFont(style::captionFont());
    connect(chooseButton_, &QPushButton::clicked, this, [this] { env_.destination().chooseFolder(); });
    folderRow->addWidget(chooseButton_);
    settingsBox.addLayout(folderRow);
    folderError_ = style::makeLabel(QString(), style::smallCaptionFont(), this);
    folderError_->setWordWrap(true);
    style::setTextColor(*folderError_, style::orangeColor(palette()));
    settingsBox.addWidget(folderError_);
}

QWidget* ContentView::buildChunkRow() {
    const QColor secondary = style::secondaryTextColor(palette());
    chunkRow_ = new QWidget(this);
    auto* chunks = new QVBoxLayout(chunkRow_);
    chunks->setContentsMargins(0, 0, 0, 0);
    chunks->setSpacing(2);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(makeColumnLabel(tr("Chunks"), chunkRow_));
    chunkCount_ = style::makeLabel(QString(), style::captionFont(), chunkRow_);
    style::setTextColor(*chunkCount_, secondary);
    countRow->addWidget(chunkCount_, 1);
    chunks->addLayout(countRow);
    lastChunkName_ = new ElidingLabel(chunkRow_);
    lastChunkName_->setFont(style::monospacedFont(style::smallCaptionFont()));
    style::setTextColor(*lastChunkName_, secondary);
    chunks->addWidget(lastChunkName_);
    return chunkRow_;
}

QWidget* ContentView::buildBottomBar() {
    // Format and record button.
    auto* bottomBar = new QWidget(this);
    bottomBar->setObjectName(QStringLiteral("bottomBar"));
    auto* bottom = new QVBoxLayout(bottomBar);
    bottom->setContentsMargins(0, 10, 0, 10);
    bottom->setSpacing(6);
    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(16, 0, 16, 0);
    controls->setSpacing(12);
    controls->addStretch();
    controls->addWidget(buildFormatPicker());
    recordButton_ = new QPushButton(tr("Record"), this);
    recordButton_->setMinimumWidth(96);
    recordButton_->setMinimumHeight(32);
    recordButton_->setToolTip(tr("Start or stop recording (Ctrl+R)"));
    style::makeProminent(*recordButton_);
    connect(recordButton_, &QPushButton::clicked, this, &ContentView::toggleRecording);
    controls->addWidget(recordButton_);
    controls->addStretch();
    bottom->addLayout(controls);

    errorLabel_ = style::makeLabel(QString(), style::captionFont(), this);
    errorLabel_->setWordWrap(true);
    errorLabel_->setAlignment(Qt::AlignCenter);
    errorLabel_->setContentsMargins(16, 0, 16, 0);
    style::setTextColor(*errorLabel_, style::redColor(palette()));
    bottom->addWidget(errorLabel_);
    return bottomBar;
}

QWidget* ContentView::buildFormatPicker() {
    auto* format = new QWidget(this);
    format->setMinimumWidth(100);
    format->setAccessibleName(tr("Format"));
    auto* segments = new QHBoxLayout(format);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    wavButton_ = new QPushButton(QStringLiteral("WAV"), format);
    m4aButton_ = new QPushButton(QStringLiteral("M4A"), format);
    formatGroup_ = new QButtonGroup(this);
    for (QPushButton* button : {wavButton_, m4aButton_}) {
        button->setCheckable(true);
        button->setAccessibleName(tr("%1 format").arg(button->text()));
        formatGroup_->addButton(button);
        segments->addWidget(button);
    }
    m4aButton_->setChecked(true); // every new screen starts with M4A
    // The chosen format is filled like a main action, so it reads as chosen on any palette.
    const auto showFormat = [this] {
        for (QPushButton* button : {wavButton_, m4aButton_}) {
            // One Tab stop for the pair, on the chosen format; the arrow keys move to the other.
            button->setFocusPolicy(button->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
            if (button->isChecked()) {
                style::makeProminent(*button);
                // Locked while recording, it stays half filled: the recorded format still shows.
                QPalette locked = button->palette();
                const QColor fill = locked.color(QPalette::Active, QPalette::Button);
                const QColor plain = locked.color(QPalette::Disabled, QPalette::Button);
                locked.setColor(QPalette::Disabled, QPalette::Button,
                                QColor((fill.red() + plain.red()) / 2, (fill.green() + plain.green()) / 2,
                                       (fill.blue() + plain.blue()) / 2));
                button->setPalette(locked);
            } else {
                button->setPalette(QPalette());
            }
        }
    };
    connect(formatGroup_, &QButtonGroup::buttonToggled, this, showFormat);
    showFormat();
    return format;
}

QWidget* ContentView::buildAccountBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(16, 6, 10, 6);
    row->setSpacing(8);
    accountLabel_ = new ElidingLabel(bar);
    accountLabel_->setObjectName(QStringLiteral("account"));
    accountLabel_->setFont(style::captionFont());
    style::setTextColor(*accountLabel_, style::secondaryTextColor(palette()));
    accountLabel_->setFullText(signedInEmail());
    row->addWidget(accountLabel_, 1);
    signOutButton_ = style::makeSmallButton(tr("Sign Out"), bar);
    signOutButton_->setObjectName(QStringLiteral("signOut"));
    connect(signOutButton_, &QPushButton::clicked, this, [this] {
        if (!recorder_->isRecording()) {
            env_.auth().signOut();
        }
    });
    row->addWidget(signOutButton_);
    auto* menuButton = new QToolButton(bar);
    menuButton->setObjectName(QStringLiteral("menu"));
    menuButton->setText(QStringLiteral("☰"));
    menuButton->setToolTip(tr("Help and About"));
    menuButton->setAccessibleName(tr("Menu"));
    menuButton->setAutoRaise(true);
    menuButton->setPopupMode(QToolButton::InstantPopup);
    menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto* menu = new QMenu(menuButton);
    QAction* help = menu->addAction(tr("Help"), this, &ContentView::helpRequested);
    // Shown in the menu only: the window's own F1 shortcut opens the help from anywhere.
    help->setShortcut(QKeySequence::HelpContents);
    help->setShortcutContext(Qt::WidgetShortcut);
    menu->addAction(tr("About VeltraneRecorder"), this, &ContentView::aboutRequested);
    menuButton->setMenu(menu);
    row->addWidget(menuButton);
    connect(&env_.auth(), &AuthManager::stateChanged, this, [this] {
        if (!signedInEmail().isEmpty()) {
            accountLabel_->setFullText(signedInEmail());
        }
    });
    return bar;
}

QString ContentView::signedInEmail() const {
    const auto& profile = env_.auth().state().profile();
    return profile ? QString::fromStdString(profile->email) : env_.auth().lastEmail();
}

void ContentView::refreshSources() {
    const QSignalBlocker sourceBlocker(sourcePicker_);
    const QSignalBlocker micBlocker(microphonePicker_);
    sourcePicker_->clear();
    const auto& sources = recorder_->systemSources();
    for (const SystemSource& source : sources) {
        sourcePicker_->addItem(source.name);
    }
    const auto& selected = recorder_->selectedSystemSource();
    const auto match = selected ? std::find_if(sources.begin(), sources.end(),
                                               [&](const SystemSource& s) { return s.id == selected->id; })
                                : sources.end();
    sourcePicker_->setCurrentIndex(match == sources.end() ? -1 : static_cast<int>(match - sources.begin()));

    microphonePicker_->clear();
    microphonePicker_->addItem(tr("No Microphone"));
    const auto& microphones = recorder_->microphones();
    for (const InputDevice& device : microphones) {
        microphonePicker_->addItem(QString::fromStdString(device.description));
    }
    const auto& microphone = recorder_->selectedMicrophone();
    const auto micMatch = microphone
                              ? std::find_if(microphones.begin(), microphones.end(),
                                             [&](const InputDevice& d) { return d.name == microphone->name; })
                              : microphones.end();
    microphonePicker_->setCurrentIndex(
        micMatch == microphones.end() ? 0 : 1 + static_cast<int>(micMatch - microphones.begin()));
    refreshLevels();
    refreshControls();
}

void ContentView::systemSourceChosen(int index) {
    const auto& sources = recorder_->systemSources();
    if (index < 0 || index >= static_cast<int>(sources.size())) {
        return;
    }
    recorder_->setSelectedSystemSource(sources[static_cast<std::size_t>(index)]);
    recorder_->saveSelections();
}

void ContentView::microphoneChosen(int index) {
    const auto& microphones = recorder_->microphones();
    if (index <= 0 || index > static_cast<int>(microphones.size())) {
        recorder_->setSelectedMicrophone(std::nullopt);
    } else {
        recorder_->setSelectedMicrophone(microphones[static_cast<std::size_t>(index - 1)]);
    }
    recorder_->saveSelections();
}

void ContentView::deviceIDEdited(const QString& text) {
    // Every edit is remembered at once, invalid intermediate values included.
    env_.userDefaults()->setString(QString::fromLatin1(kDeviceIDKey), text);
    refreshControls();
}

void ContentView::refreshLevels() {
    const bool hasMicrophone = recorder_->selectedMicrophone().has_value();
    showGain(*systemGainSlider_, *systemGainText_, recorder_->systemGain());
    showGain(*microphoneGainSlider_, *microphoneGainText_, recorder_->microphoneGain());
    microphoneGainRow_->setVisible(hasMicrophone);
    refreshMeters();
}

void ContentView::refreshMeters() {
    // Without a recording nothing is heard: the meters fall to zero when it stops or its stream
    // ends, whatever level was reported last.
    const bool recording = recorder_->isRecording();
    const bool hasMicrophone = recorder_->selectedMicrophone().has_value();
    systemMeter_->setLevel(recording ? recorder_->systemLevel() : 0.0);
    microphoneMeter_->setMeterDisabled(!hasMicrophone);
    microphoneMeter_->setLevel(recording && hasMicrophone ? recorder_->micLevel() : 0.0);
}

void ContentView::refreshChunkRow() {
    chunkRow_->setVisible(recorder_->isRecording() || recorder_->chunksWritten() >= 1);
    chunkCount_->setText(tr("%n written", nullptr, static_cast<int>(recorder_->chunksWritten())));
    lastChunkName_->setVisible(!recorder_->lastChunkName().isNull());
    lastChunkName_->setFullText(recorder_->lastChunkName());
}

void ContentView::refreshErrors() {
    const auto& folderError = env_.destination().errorMessage();
    folderError_->setVisible(folderError.has_value());
    folderError_->setText(folderError ? shownMessage(folderError->toStdString()) : QString());
    const QString& error = recorder_->errorMessage();
    errorLabel_->setVisible(!error.isNull() && !recorder_->permissionError());
    errorLabel_->setText(shownMessage(error.toStdString()));
}

void ContentView::refreshControls() {
    const bool recording = recorder_->isRecording();
    const bool permissionError = recorder_->permissionError();
    recordingDot_->setRecording(recording);
    titleLabel_->setText(recording ? recorder_->recordingTime() : tr("Audio Recorder"));
    permissionNotice_->setVisible(permissionError);
    workingArea_->setVisible(!permissionError);

    sourcePicker_->setEnabled(!recording);
    microphonePicker_->setEnabled(!recording);
    assignmentView_->setLocked(recording);
    deviceField_->setEnabled(!recording);
    const bool validID = isValidDeviceID(deviceField_->text());
    deviceWarningIcon_->setVisible(!validID);
    deviceHint_->setVisible(!validID);

    const auto& folder = env_.destination().url();
    folderName_->setFullText(folder ? QString::fromStdString(folder->filename().string())
                                    : tr("None chosen"));
    style::setTextColor(*folderName_, folder ? palette().color(QPalette::WindowText)
                                             : style::secondaryTextColor(palette()));
    chooseButton_->setEnabled(!recording);
    signOutButton_->setEnabled(!recording);
    signOutButton_->setToolTip(recording ? tr("Stop the recording to sign out") : QString());
    wavButton_->setEnabled(!recording);
    m4aButton_->setEnabled(!recording);

    // Without a folder Record stays offered: pressing it asks for the folder first.
    const bool canStart =
        canStartRecording(deviceField_->text(), true, recorder_->selectedSystemSource().has_value(),
                          env_.assignment().hasSelectedProject());
    recordButton_->setText(recording ? tr("Stop") : tr("Record"));
    recordButton_->setEnabled(transition_ == RecordTransition::none && (recording || canStart));
    style::makeProminent(*recordButton_,
                         recording ? style::redColor(palette()) : style::accentColor(palette()));
    refreshChunkRow();
    refreshErrors();
}

void ContentView::setTransition(RecordTransition transition) {
    transition_ = transition;
    refreshControls();
}

void ContentView::toggleRecording() {
    if (transition_ != RecordTransition::none) {
        return; // a start or a stop is still under way
    }
    if (recorder_->isRecording()) {
        setTransition(RecordTransition::stopping);
        recorder_->stopRecording();
        return;
    }
    if (!isValidDeviceID(deviceField_->text())) {
        recorder_->reportError(tr("Device ID must be letters and digits, ending in a digit."));
        return;
    }
    if (!env_.destination().url()) {
        // Record without a folder asks for one and, once one is chosen, records into it.
        env_.destination().chooseFolder();
    }
    const auto& folder = env_.destination().url();
    if (!folder || !recorder_->selectedSystemSource() || !env_.assignment().hasSelectedProject()) {
        return;
    }
    setTransition(RecordTransition::starting);
    recorder_->setChunkFiling(currentFiling());
    recorder_->startRecording(*folder, deviceField_->text(),
                              wavButton_->isChecked() ? RecordingFormat::wav : RecordingFormat::m4a,
                              chunkDurationSeconds(qgetenv(kChunkSecondsVariable)));
    if (!recorder_->isRecording() && !recorder_->errorMessage().isNull()) {
        setTransition(RecordTransition::none); // refused before the capture started
    }
}

void ContentView::recordingChanged() {
    if (recorder_->isRecording()) {
        silence_.reset();
        silenceTimer_->start();
        if (transition_ == RecordTransition::starting) {
            setTransition(RecordTransition::none);
        }
    } else {
        silenceTimer_->stop();
        silenceWarning_->hide();
        const bool byItself = transition_ != RecordTransition::stopping;
        refreshMeters();
        // Whoever stopped it (the button, a quit, or the recorder after a failure), the button
        // waits until the last chunk is finished and handed over.
        transition_ = RecordTransition::stopping;
        recorder_->whenStopped([self = QPointer<ContentView>(this), byItself] {
            if (!self) {
                return;
            }
            // A recording that stopped by itself shows its error once its last chunk is finished.
            if (byItself) {
                const QString& error = self->recorder_->errorMessage();
                emit self->recordingStoppedByItself(error.isEmpty() ? tr("The capture ended.")
                                                                    : shownMessage(error.toStdString()));
            }
            // Every chunk of the recording is filed by now.
            if (!self) {
                return;
            }
            self->setTransition(RecordTransition::none);
            for (auto& done : std::exchange(self->afterStop_, {})) {
                done();
            }
        });
    }
    refreshControls();
}

void ContentView::stopAndThen(std::function<void()> done) {
    if (!isBusy()) {
        done();
        return;
    }
    afterStop_.push_back(std::move(done));
    if (recorder_->isRecording()) {
        transition_ = RecordTransition::stopping;
        recorder_->stopRecording();
    }
}

std::optional<ChunkFiling> ContentView::currentFiling() const {
    const auto& project = env_.assignment().selectedProject();
    if (!project) {
        return std::nullopt;
    }
    const auto& meeting = env_.assignment().selectedMeeting();
    return ChunkFiling{.projectId = project->id,
                       .projectName = project->name,
                       .meetingId = meeting ? std::optional(meeting->id) : std::nullopt,
                       .meetingName = meeting ? std::optional(meeting->name) : std::nullopt};
}

void ContentView::checkSilence() {
    const bool silent =
        silence_.feed(recorder_->systemLevel(), recorder_->selectedMicrophone() ? recorder_->micLevel() : 0.0,
                      std::chrono::steady_clock::now());
    const auto& source = recorder_->selectedSystemSource();
    silenceWarning_->setText(silenceWarningText(source ? source->name : tr("the picked source")));
    if (silent && silenceWarning_->isHidden()) {
        emit silenceWarningShown(silenceWarning_->text());
    }
    silenceWarning_->setVisible(silent);
}

} // namespace veltrane
