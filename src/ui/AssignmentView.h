#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QProgressBar;
class QStackedWidget;
class QToolButton;

namespace veltrane {

class AssignmentModel;
struct MeetingResponse;
class NewMeetingSheet;

// The project and meeting pickers of the main screen, with the refresh and new-meeting buttons,
// their busy indicators and the model's error text. Shows only what the model holds and changes
// it only through the model's operations, and only on the user's own picks.
class AssignmentView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLabelWidthPx = 64;
    static constexpr int kRowSpacingPx = 6;

    // `model` must outlive the view.
    explicit AssignmentView(AssignmentModel& model, QWidget* parent = nullptr);

    // While locked (a recording is running) neither picker nor button can be used.
    void setLocked(bool locked);
    [[nodiscard]] bool isLocked() const noexcept { return locked_; }

    // The project picker's entry that stands for no project: "Select…".
    [[nodiscard]] static QString noProjectOptionText();
    // The meeting picker's entry that stands for no meeting: "Project only" when the project has
    // meetings, "None" when it has none.
    [[nodiscard]] static QString noMeetingOptionText(bool meetingsEmpty);
    // A meeting's entry: its name and scheduled day, "Retro — 10 Dec 2026" (the name alone when
    // the meeting has no readable day).
    [[nodiscard]] static QString meetingOptionText(const MeetingResponse& meeting);

private:
    void render();
    void fillProjects();
    void fillMeetings();
    void projectActivated(int index);
    void meetingActivated(int index);
    void refresh();
    void openNewMeetingSheet();

    AssignmentModel& model_;
    bool locked_ = false;
    QComboBox* projectPicker_ = nullptr;
    QComboBox* meetingPicker_ = nullptr;
    QStackedWidget* projectAction_ = nullptr;
    QToolButton* refreshButton_ = nullptr;
    QProgressBar* projectsBusy_ = nullptr;
    QStackedWidget* meetingAction_ = nullptr;
    QToolButton* addButton_ = nullptr;
    QProgressBar* meetingsBusy_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPointer<NewMeetingSheet> sheet_;
};

} // namespace veltrane
