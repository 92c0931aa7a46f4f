#include "ui/AssignmentView.h"

#include "app/Translations.h"
#include "assignment/AssignmentModel.h"
#include "ui/NewMeetingSheet.h"
#include "ui/Style.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>
#include <vector>

namespace veltrane {
namespace {

constexpr int kActionSizePx = 22;

// One picker entry: its text and the id it stands for (empty for the "no choice" entry).
using PickerEntry = std::pair<QString, QString>;

// Replaces the picker's entries when they differ and shows the entry of `currentID`, all without
// emitting signals: only the user's own picks are passed on to the model.
void fillPicker(QComboBox& picker, const std::vector<PickerEntry>& entries, const QString& currentID) {
    const QSignalBlocker blocker(picker);
    bool same = picker.count() == static_cast<int>(entries.size());
    for (int index = 0; same && index < picker.count(); ++index) {
        const PickerEntry& entry = entries[static_cast<std::size_t>(index)];
        same = picker.itemText(index) == entry.first && picker.itemData(index).toString() == entry.second;
    }
    if (!same) {
        picker.clear();
        for (const auto& [text, id] : entries) {
            picker.addItem(text, id);
        }
    }
    picker.setCurrentIndex(std::max(0, picker.findData(currentID)));
}

// What the longest row title needs in `font`, so no title clips with a large font.
int columnWidthPx(const QFont& font) {
    const QFontMetrics metrics(font);
    return std::max(
               metrics.horizontalAdvance(QCoreApplication::translate("veltrane::AssignmentView", "Project")),
               metrics.horizontalAdvance(
                   QCoreApplication::translate("veltrane::AssignmentView", "Meeting"))) +
           4;
}

QToolButton* makeActionButton(style::Symbol symbol, const QString& toolTip, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setIcon(style::symbolIcon(symbol, parent->palette().color(QPalette::ButtonText)));
    button->setIconSize(QSize(14, 14));
    button->setToolTip(toolTip);
    button->setAccessibleName(toolTip);
    return button;
}

// The button, or while loading the busy indicator, in one fixed-size slot so the row never moves.
QStackedWidget* makeActionSlot(QToolButton* button, QProgressBar* busy, QWidget* parent) {
    auto* slot = new QStackedWidget(parent);
    slot->setFixedSize(kActionSizePx, kActionSizePx);
    slot->addWidget(button);
    auto* busyHolder = new QWidget(slot);
    auto* busyLayout = new QHBoxLayout(busyHolder);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyLayout->addWidget(busy, 0, Qt::AlignCenter);
    slot->addWidget(busyHolder);
    return slot;
}

} // namespace

AssignmentView::AssignmentView(AssignmentModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kRowSpacingPx);

    const auto addRow = [&](const QString& title, QComboBox*& picker, QStackedWidget* action) {
        auto* row = new QHBoxLayout;
        row->setSpacing(kRowSpacingPx);
        auto* label = style::makeLabel(title, style::captionFont(), this);
        label->setFixedWidth(std::max(kLabelWidthPx, columnWidthPx(label->font())));
        picker = new QComboBox(this);
        picker->setObjectName(title.toLower());
        picker->setAccessibleName(title);
        picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        picker->setMinimumContentsLength(8);
        picker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        label->setBuddy(picker); // what the picker picks, for screen readers
        row->addWidget(label);
        row->addWidget(picker, 1);
        row->addWidget(action);
        layout->addLayout(row);
    };

    refreshButton_ = makeActionButton(style::Symbol::refresh, tr("Refresh projects and meetings"), this);
    refreshButton_->setObjectName(QStringLiteral("refresh"));
    projectsBusy_ = style::makeBusyIndicator(QSize(18, 6));
    projectAction_ = makeActionSlot(refreshButton_, projectsBusy_, this);
    addRow(tr("Project"), projectPicker_, projectAction_);

    addButton_ = makeActionButton(style::Symbol::add, tr("Create a meeting in this project"), this);
    addButton_->setObjectName(QStringLiteral("add"));
    meetingsBusy_ = style::makeBusyIndicator(QSize(18, 6));
    meetingAction_ = makeActionSlot(addButton_, meetingsBusy_, this);
    addRow(tr("Meeting"), meetingPicker_, meetingAction_);

    // Each row's button was made before its picker: Tab goes picker, button, next row.
    setTabOrder(projectPicker_, refreshButton_);
    setTabOrder(refreshButton_, meetingPicker_);
    setTabOrder(meetingPicker_, addButton_);

    errorLabel_ = style::makeLabel(QString(), style::smallCaptionFont(), this);
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->setWordWrap(true);
    style::setTextColor(*errorLabel_, style::orangeColor(palette()));
    layout->addWidget(errorLabel_);

    connect(projectPicker_, &QComboBox::activated, this, &AssignmentView::projectActivated);
    connect(meetingPicker_, &QComboBox::activated, this, &AssignmentView::meetingActivated);
    connect(refreshButton_, &QToolButton::clicked, this, &AssignmentView::refresh);
    connect(addButton_, &QToolButton::clicked, this, &AssignmentView::openNewMeetingSheet);
    for (const auto signal :
         {&AssignmentModel::projectsChanged, &AssignmentModel::meetingsChanged,
          &AssignmentModel::selectedProjectChanged, &AssignmentModel::selectedMeetingChanged,
          &AssignmentModel::isLoadingChanged, &AssignmentModel::isLoadingMeetingsChanged,
          &AssignmentModel::errorMessageChanged}) {
        connect(&model_, signal, this, &AssignmentView::render);
    }
    render();
}

QString AssignmentView::noProjectOptionText() {
    return tr("Select…");
}

QString AssignmentView::noMeetingOptionText(bool meetingsEmpty) {
    return meetingsEmpty ? tr("None") : tr("Project only");
}

QString AssignmentView::meetingOptionText(const MeetingResponse& meeting) {
    const QString name = QString::fromStdString(meeting.name);
    if (!meeting.scheduledDate) {
        return name;
    }
    // The day as sent ("2026-12-10") or the day of a full time stamp.
    const QString sent = QString::fromStdString(*meeting.scheduledDate);
    QDate day = QDate::fromString(sent.left(10), Qt::ISODate);
    if (!day.isValid()) {
        return name;
    }
    //: The date format of a meeting's day in the meeting picker (QDate format letters).
    return name + QStringLiteral(" — ") + QLocale().toString(day, tr("d MMM yyyy"));
}

void AssignmentView::setLocked(bool locked) {
    if (locked != locked_) {
        locked_ = locked;
        render();
    }
}

void AssignmentView::fillProjects() {
    std::vector<PickerEntry> entries{{noProjectOptionText(), QString()}};
    for (const ProjectResponse& project : model_.projects()) {
        entries.emplace_back(QString::fromStdString(project.name), QString::fromStdString(project.id));
    }
    fillPicker(*projectPicker_, entries, model_.selectedProjectId());
}

void AssignmentView::fillMeetings() {
    std::vector<PickerEntry> entries{{noMeetingOptionText(model_.meetings().empty()), QString()}};
    for (const MeetingResponse& meeting : model_.meetings()) {
        entries.emplace_back(meetingOptionText(meeting), QString::fromStdString(meeting.id));
    }
    fillPicker(*meetingPicker_, entries, model_.selectedMeetingId());
}

void AssignmentView::render() {
    fillProjects();
    fillMeetings();

    const bool loading = model_.isLoading();
    const bool loadingMeetings = model_.isLoadingMeetings();
    const bool hasProject = model_.hasSelectedProject();
    projectPicker_->setEnabled(!locked_ && !loading);
    projectAction_->setCurrentIndex(loading ? 1 : 0);
    refreshButton_->setEnabled(!locked_);
    meetingPicker_->setEnabled(!locked_ && hasProject && !loadingMeetings);
    meetingAction_->setCurrentIndex(loadingMeetings ? 1 : 0);
    addButton_->setEnabled(!locked_ && hasProject);

    const std::optional<QString>& error = model_.errorMessage();
    errorLabel_->setText(error ? shownMessage(error->toStdString()) : QString());
    errorLabel_->setVisible(error.has_value());
}

void AssignmentView::projectActivated(int index) {
    const QString id = projectPicker_->itemData(index).toString();
    const auto& projects = model_.projects();
    const auto match = std::find_if(projects.begin(), projects.end(), [&id](const ProjectResponse& project) {
        return QString::fromStdString(project.id) == id;
    });
    model_.selectProject(id.isEmpty() || match == projects.end() ? std::nullopt
                                                                 : std::optional<ProjectResponse>(*match));
    // A pick the model did not take (an id no longer listed) is put back to the model's choice.
    render();
}

void AssignmentView::meetingActivated(int index) {
    const QString id = meetingPicker_->itemData(index).toString();
    model_.selectMeeting(id.isEmpty() ? std::nullopt : std::optional<QString>(id));
    render();
}

void AssignmentView::refresh() {
    // loadProjects() never throws (failures end in the model's error text) and the model outlives
    // this view, so the button does not wait for it.
    (void)model_.loadProjects();
}

void AssignmentView::openNewMeetingSheet() {
    if (sheet_) {
        sheet_->raise();
        return;
    }
    sheet_ = new NewMeetingSheet(model_, this);
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    sheet_->open();
}

} // namespace veltrane
