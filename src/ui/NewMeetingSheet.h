#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>

#include <optional>

class QCheckBox;
class QDateEdit;
class QFormLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace veltrane {

class AssignmentModel;

// The window-modal sheet that creates a meeting in the chosen project: name, date, an optional
// end date ("Multi-day"). A failed create keeps the sheet open with everything entered and shows
// the error; a successful one closes it (accept()), and the model then has the new meeting chosen.
class NewMeetingSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidthPx = 360;
    static constexpr int kPaddingPx = 20;
    static constexpr int kSpacingPx = 12;

    // `model` must outlive the sheet.
    explicit NewMeetingSheet(AssignmentModel& model, QWidget* parent = nullptr);

    // The name as it is sent: white space and line breaks removed from both ends.
    [[nodiscard]] static QString trimmedName(const QString& name);
    [[nodiscard]] static bool canCreate(const QString& name, bool isSaving);

    [[nodiscard]] bool isSaving() const noexcept { return isSaving_; }

public slots:
    // Closing is refused while a create is under way.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void render();
    void save();
    void finishSave(std::optional<QString> failure);

    AssignmentModel& model_;
    // Date fields start at the moment the sheet opens; the time of day goes along with the date.
    QDateTime openedAt_ = QDateTime::currentDateTime();
    QLabel* projectCaption_ = nullptr;
    QFormLayout* form_ = nullptr;
    QLineEdit* nameField_ = nullptr;
    QDateEdit* dateField_ = nullptr;
    QCheckBox* multiDaySwitch_ = nullptr;
    QDateEdit* endDateField_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* createButton_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    bool isSaving_ = false;
    std::optional<QString> errorMessage_;
};

} // namespace veltrane
