#include "ui/NewMeetingSheet.h"

#include "app/Translations.h"
#include "assignment/AssignmentModel.h"
#include "server/ServerErrors.h"
#include "ui/Style.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace veltrane {
namespace {

QDateEdit* makeDateField(const QDate& date, QWidget* parent) {
    auto* field = new QDateEdit(date, parent);
    field->setCalendarPopup(true);
    field->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    return field;
}

} // namespace

NewMeetingSheet::NewMeetingSheet(AssignmentModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(tr("New Meeting"));
    setWindowModality(Qt::WindowModal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPaddingPx, kPaddingPx, kPaddingPx, kPaddingPx);
    layout->setSpacing(kSpacingPx);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = style::makeLabel(tr("New Meeting"), style::headlineFont(), this);
    title->setMinimumWidth(kWidthPx - 2 * kPaddingPx); // holds the sheet at its width
    layout->addWidget(title);
    projectCaption_ = style::makeLabel(QString(), style::captionFont(), this);
    style::setTextColor(*projectCaption_, style::secondaryTextColor(palette()));
    layout->addWidget(projectCaption_);

    form_ = new QFormLayout;
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    nameField_ = new QLineEdit(this);
    nameField_->setObjectName(QStringLiteral("name"));
    nameField_->setAccessibleName(tr("Name"));
    dateField_ = makeDateField(openedAt_.date(), this);
    dateField_->setObjectName(QStringLiteral("date"));
    dateField_->setAccessibleName(tr("Date"));
    multiDaySwitch_ = new QCheckBox(this);
    multiDaySwitch_->setObjectName(QStringLiteral("multiDay"));
    multiDaySwitch_->setAccessibleName(tr("Multi-day"));
    endDateField_ = makeDateField(openedAt_.date(), this);
    endDateField_->setObjectName(QStringLiteral("endDate"));
    endDateField_->setAccessibleName(tr("End date"));
    endDateField_->setMinimumDate(dateField_->date());
    form_->addRow(tr("Name"), nameField_);
    form_->addRow(tr("Date"), dateField_);
    form_->addRow(tr("Multi-day"), multiDaySwitch_);
    form_->addRow(tr("End date"), endDateField_);
    form_->setRowVisible(endDateField_, false);
    layout->addLayout(form_);

    errorLabel_ = style::makeLabel(QString(), style::captionFont(), this);
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->setWordWrap(true);
    errorLabel_->setMaximumWidth(kWidthPx - 2 * kPaddingPx);
    style::setTextColor(*errorLabel_, style::redColor(palette()));
    layout->addWidget(errorLabel_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancelButton_ = new QPushButton(tr("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("cancel"));
    cancelButton_->setAutoDefault(false);
    createButton_ = new QPushButton(tr("Create"), this);
    createButton_->setObjectName(QStringLiteral("create"));
    createButton_->setDefault(true);
    style::makeProminent(*createButton_);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(createButton_);
    layout->addLayout(buttons);

    // Shown centred over the sheet while a create runs; not part of the layout.
    busyIndicator_ = style::makeBusyIndicator(QSize(120, 10), this);
    busyIndicator_->hide();

    connect(nameField_, &QLineEdit::textChanged, this, &NewMeetingSheet::render);
    connect(dateField_, &QDateEdit::dateChanged, endDateField_, &QDateEdit::setMinimumDate);
    connect(multiDaySwitch_, &QCheckBox::toggled, this, &NewMeetingSheet::render);
    connect(cancelButton_, &QPushButton::clicked, this, &NewMeetingSheet::reject);
    connect(createButton_, &QPushButton::clicked, this, &NewMeetingSheet::save);
    connect(&model_, &AssignmentModel::selectedProjectChanged, this, &NewMeetingSheet::render);
    render();
    nameField_->setFocus();
}

QString NewMeetingSheet::trimmedName(const QString& name) {
    return name.trimmed();
}

bool NewMeetingSheet::canCreate(const QString& name, bool isSaving) {
    return !trimmedName(name).isEmpty() && !isSaving;
}

void NewMeetingSheet::render() {
    const auto& project = model_.selectedProject();
    projectCaption_->setText(project ? tr("in %1").arg(QString::fromStdString(project->name)) : QString());
    projectCaption_->setVisible(project.has_value());

    form_->setRowVisible(endDateField_, multiDaySwitch_->isChecked());
    for (QWidget* input : {static_cast<QWidget*>(nameField_), static_cast<QWidget*>(dateField_),
                           static_cast<QWidget*>(multiDaySwitch_), static_cast<QWidget*>(endDateField_)}) {
        input->setEnabled(!isSaving_);
    }
    errorLabel_->setText(errorMessage_.value_or(QString()));
    errorLabel_->setVisible(errorMessage_.has_value());
    cancelButton_->setEnabled(!isSaving_);
    createButton_->setEnabled(canCreate(nameField_->text(), isSaving_));
    busyIndicator_->setVisible(isSaving_);
    busyIndicator_->raise();
}

void NewMeetingSheet::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    busyIndicator_->move(rect().center() - busyIndicator_->rect().center());
}

void NewMeetingSheet::reject() {
    if (!isSaving_) {
        QDialog::reject();
    }
}

void NewMeetingSheet::save() {
    if (!canCreate(nameField_->text(), isSaving_)) {
        return;
    }
    isSaving_ = true;
    errorMessage_.reset();
    render();

    const QString name = trimmedName(nameField_->text());
    const QDateTime scheduled(dateField_->date(), openedAt_.time());
    // A hidden end date is never sent, whatever it holds.
    const std::optional<QDateTime> end =
        multiDaySwitch_->isChecked()
            ? std::optional<QDateTime>(QDateTime(endDateField_->date(), openedAt_.time()))
            : std::nullopt;
    // A detached coroutine on the main thread; it holds the sheet weakly across the request and
    // catches every failure itself, since nobody awaits it.
    [](QPointer<NewMeetingSheet> self, AssignmentModel& model, QString name, QDateTime scheduled,
       std::optional<QDateTime> end) -> QCoro::Task<> {
        std::optional<QString> failure;
        try {
            (void)co_await model.createMeeting(std::move(name), std::move(scheduled), std::move(end));
        } catch (const std::exception& error) {
            failure = shownMessage(userDescription(error));
        }
        if (self) {
            self->finishSave(std::move(failure));
        }
    }(QPointer<NewMeetingSheet>(this), model_, name, scheduled, end);
}

void NewMeetingSheet::finishSave(std::optional<QString> failure) {
    if (failure) {
        errorMessage_ = std::move(failure);
        isSaving_ = false;
        render();
        return;
    }
    isSaving_ = false;
    accept();
}

} // namespace veltrane
