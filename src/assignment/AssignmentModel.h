#pragma once

#include "server/ProjectService.h"
#include "server/Records.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace veltrane {

class APIClient;
class UserDefaults;

// The user's choice of project and meeting, the lists to choose from and the load flags the
// assignment view shows. The choice is remembered in the user defaults and kept valid when the
// lists change. Main thread only; load failures end in errorMessage (English), never in an exception.
class AssignmentModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(bool isLoadingMeetings READ isLoadingMeetings NOTIFY isLoadingMeetingsChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasSelectedProject READ hasSelectedProject NOTIFY selectedProjectChanged)
    Q_PROPERTY(QString selectedProjectId READ selectedProjectId NOTIFY selectedProjectChanged)
    Q_PROPERTY(QString selectedMeetingId READ selectedMeetingId NOTIFY selectedMeetingChanged)

public:
    static constexpr const char* kSelectedProjectIdKey = "kSelectedProjectId";
    static constexpr const char* kSelectedMeetingIdKey = "kSelectedMeetingId";
    // A load failure's message is kept in English, like the services' own; the view shows it in
    // the locale's language (shownMessage, app/Translations.h).
    static constexpr const char* kMeetingsUnloadedMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Could not load meetings: %1");

    // Reads the remembered meeting id; the remembered project is read by loadProjects(). The client
    // and the defaults must outlive the model.
    AssignmentModel(APIClient& client, UserDefaults& defaults, QObject* parent = nullptr);

    [[nodiscard]] const std::vector<ProjectResponse>& projects() const noexcept { return projects_; }
    [[nodiscard]] const std::vector<MeetingResponse>& meetings() const noexcept { return meetings_; }
    [[nodiscard]] const std::optional<ProjectResponse>& selectedProject() const noexcept {
        return selectedProject_;
    }
    [[nodiscard]] const std::optional<MeetingResponse>& selectedMeeting() const noexcept {
        return selectedMeeting_;
    }
    [[nodiscard]] bool isLoading() const noexcept { return isLoading_; }
    [[nodiscard]] bool isLoadingMeetings() const noexcept { return meetingLoadsInFlight_ > 0; }
    [[nodiscard]] const std::optional<QString>& errorMessage() const noexcept { return errorMessage_; }
    [[nodiscard]] const std::optional<QString>& pendingMeetingId() const noexcept {
        return pendingMeetingId_;
    }
    [[nodiscard]] bool hasSelectedProject() const noexcept { return selectedProject_.has_value(); }

    // The projects a recording may be filed under: those whose status is exactly "active".
    [[nodiscard]] static std::vector<ProjectResponse> activeProjects(std::vector<ProjectResponse> projects);

    // Property forms: empty text when absent.
    [[nodiscard]] QString errorMessageText() const { return errorMessage_.value_or(QString()); }
    [[nodiscard]] QString selectedProjectId() const;
    [[nodiscard]] QString selectedMeetingId() const;

    // Loads the active projects, restores or reconciles the chosen project, then loads its meetings.
    [[nodiscard]] QCoro::Task<> loadProjects();
    // Loads the meetings of the chosen project and reconciles the chosen meeting. An answer that
    // arrives after the user chose another project is ignored.
    [[nodiscard]] QCoro::Task<> loadMeetings();
    // Chooses a project (or none) and starts loading its meetings in the background.
    void selectProject(const std::optional<ProjectResponse>& project);
    // Chooses one of the loaded meetings by id; an unknown or absent id chooses none.
    void selectMeeting(const std::optional<QString>& meetingId);
    // Creates a meeting in the chosen project, puts it first and chooses it. Throws APIError
    // (notConfigured without a chosen project) and then changes nothing. When the chosen project
    // has changed by the time the answer arrives, the meeting is only returned.
    [[nodiscard]] QCoro::Task<MeetingResponse> createMeeting(QString name, QDateTime scheduledDate,
                                                             std::optional<QDateTime> endDate);
    // Writes the current choice to the two keys (removing a key when nothing is chosen).
    void persistSelection();

signals:
    void projectsChanged();
    void meetingsChanged();
    void selectedProjectChanged();
    void selectedMeetingChanged();
    void isLoadingChanged();
    void isLoadingMeetingsChanged();
    void errorMessageChanged();

private:
    void setProjects(std::vector<ProjectResponse> projects);
    void setMeetings(std::vector<MeetingResponse> meetings);
    void setSelectedProject(std::optional<ProjectResponse> project);
    void setSelectedMeeting(std::optional<MeetingResponse> meeting);
    void setIsLoading(bool loading);
    void setErrorMessage(std::optional<QString> message);
    void changeMeetingLoadsInFlight(int delta);
    void applyMeetings(std::vector<MeetingResponse> meetings);

    ProjectService projectService_;
    UserDefaults& defaults_;
    std::vector<ProjectResponse> projects_;
    std::vector<MeetingResponse> meetings_;
    std::optional<ProjectResponse> selectedProject_;
    std::optional<MeetingResponse> selectedMeeting_;
    bool isLoading_ = false;
    int meetingLoadsInFlight_ = 0;
    std::optional<QString> errorMessage_;
    std::optional<QString> pendingMeetingId_;
    // Changes whenever the chosen project changes; a meeting answer for an older choice is dropped.
    std::uint64_t projectChoiceGeneration_ = 0;
};

} // namespace veltrane
