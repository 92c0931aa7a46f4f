#include "assignment/AssignmentModel.h"

#include "platform/core/Log.h"
#include "platform/settings/UserDefaults.h"
#include "server/APIClient.h"
#include "server/ServerErrors.h"

#include <QPointer>

#include <algorithm>

namespace veltrane {

AssignmentModel::AssignmentModel(APIClient& client, UserDefaults& defaults, QObject* parent)
    : QObject(parent), projectService_(client), defaults_(defaults),
      pendingMeetingId_(defaults.string(kSelectedMeetingIdKey)) {}

QString AssignmentModel::selectedProjectId() const {
    return selectedProject_ ? QString::fromStdString(selectedProject_->id) : QString();
}

QString AssignmentModel::selectedMeetingId() const {
    return selectedMeeting_ ? QString::fromStdString(selectedMeeting_->id) : QString();
}

std::vector<ProjectResponse> AssignmentModel::activeProjects(std::vector<ProjectResponse> projects) {
    std::erase_if(projects, [](const ProjectResponse& project) { return project.status != "active"; });
    return projects;
}

QCoro::Task<> AssignmentModel::loadProjects() {
    QPointer<AssignmentModel> self(this);
    setIsLoading(true);
    setErrorMessage(std::nullopt);

    std::vector<ProjectResponse> fetched;
    try {
        fetched = co_await projectService_.fetchActiveProjects();
    } catch (const std::exception& error) {
        if (self) {
            setErrorMessage(QString::fromStdString(userDescription(error)));
            setIsLoading(false);
        }
        co_return;
    }
    if (!self) {
        co_return;
    }

    std::vector<ProjectResponse> active = activeProjects(std::move(fetched));
    logInfo(lcAssignment(), "📋 active projects: " + std::to_string(active.size()));
    setProjects(std::move(active));

    const auto findProject = [this](const std::string& id) {
        return std::find_if(projects_.begin(), projects_.end(),
                            [&id](const ProjectResponse& p) { return p.id == id; });
    };
    if (selectedProject_) {
        if (findProject(selectedProject_->id) == projects_.end()) {
            setSelectedProject(std::nullopt);
            setSelectedMeeting(std::nullopt);
            setMeetings({});
            persistSelection();
            setIsLoading(false);
            co_return;
        }
    } else if (const std::optional<QString> storedID = defaults_.string(kSelectedProjectIdKey)) {
        const auto match = findProject(storedID->toStdString());
        if (match != projects_.end()) {
            setSelectedProject(*match);
        }
    }

    co_await loadMeetings();
    if (self) {
        setIsLoading(false);
    }
}

QCoro::Task<> AssignmentModel::loadMeetings() {
    QPointer<AssignmentModel> self(this);
    if (!selectedProject_) {
        co_return;
    }
    const std::string projectId = selectedProject_->id;
    const std::uint64_t generation = projectChoiceGeneration_;
    changeMeetingLoadsInFlight(+1);

    std::optional<std::vector<MeetingResponse>> fetched;
    try {
        fetched = co_await projectService_.fetchMeetings(QString::fromStdString(projectId));
    } catch (const std::exception& error) {
        logWarning(lcAssignment(), "📋 meetings fetch failed: " + debugDescription(error));
        if (self && generation == projectChoiceGeneration_) {
            setErrorMessage(
                filledMessage(kMeetingsUnloadedMessage, {QString::fromStdString(userDescription(error))}));
        }
    }
    if (!self) {
        co_return;
    }
    if (fetched) {
        logInfo(lcAssignment(),
                "📋 meetings for " + projectId + ": " + std::to_string(fetched->size()) + " returned");
        if (generation == projectChoiceGeneration_) {
            applyMeetings(std::move(*fetched));
        }
    }
    changeMeetingLoadsInFlight(-1);
}

void AssignmentModel::applyMeetings(std::vector<MeetingResponse> meetings) {
    setMeetings(std::move(meetings));
    const auto findMeeting = [this](const std::string& id) {
        return std::find_if(meetings_.begin(), meetings_.end(),
                            [&id](const MeetingResponse& m) { return m.id == id; });
    };
    if (selectedMeeting_) {
        if (findMeeting(selectedMeeting_->id) == meetings_.end()) {
            setSelectedMeeting(std::nullopt);
            persistSelection();
        }
    } else if (pendingMeetingId_) {
        const auto match = findMeeting(pendingMeetingId_->toStdString());
        if (match != meetings_.end()) {
            setSelectedMeeting(*match);
            persistSelection();
        }
    }
}

void AssignmentModel::selectProject(const std::optional<ProjectResponse>& project) {
    const bool sameChoice = project.has_value() == selectedProject_.has_value() &&
                            (!project || project->id == selectedProject_->id);
    if (sameChoice) {
        return;
    }
    setSelectedProject(project);
    setSelectedMeeting(std::nullopt);
    setMeetings({});
    pendingMeetingId_.reset();
    persistSelection();
    // loadMeetings() never throws, so nothing is lost by not awaiting it.
    (void)loadMeetings();
}

void AssignmentModel::selectMeeting(const std::optional<QString>& meetingId) {
    std::optional<MeetingResponse> chosen;
    if (meetingId) {
        const std::string id = meetingId->toStdString();
        const auto match = std::find_if(meetings_.begin(), meetings_.end(),
                                        [&id](const MeetingResponse& m) { return m.id == id; });
        if (match != meetings_.end()) {
            chosen = *match;
        }
    }
    pendingMeetingId_ = chosen ? std::optional<QString>(QString::fromStdString(chosen->id)) : std::nullopt;
    setSelectedMeeting(std::move(chosen));
    persistSelection();
}

QCoro::Task<MeetingResponse> AssignmentModel::createMeeting(QString name, QDateTime scheduledDate,
                                                            std::optional<QDateTime> endDate) {
    QPointer<AssignmentModel> self(this);
    if (!selectedProject_) {
        throw APIError::notConfigured();
    }
    const std::uint64_t generation = projectChoiceGeneration_;
    MeetingResponse created = co_await projectService_.createMeeting(
        QString::fromStdString(selectedProject_->id), name, scheduledDate, endDate);
    // The meeting belongs to the project chosen when it was asked for; once the user has chosen
    // another project (or none), it must not appear or be chosen under that one.
    if (!self || generation != projectChoiceGeneration_) {
        co_return created;
    }
    std::vector<MeetingResponse> meetings = meetings_;
    meetings.insert(meetings.begin(), created);
    setMeetings(std::move(meetings));
    setSelectedMeeting(created);
    pendingMeetingId_ = QString::fromStdString(created.id);
    persistSelection();
    co_return created;
}

void AssignmentModel::persistSelection() {
    if (selectedProject_) {
        defaults_.setString(kSelectedProjectIdKey, QString::fromStdString(selectedProject_->id));
    } else {
        defaults_.remove(kSelectedProjectIdKey);
    }
    if (selectedMeeting_) {
        defaults_.setString(kSelectedMeetingIdKey, QString::fromStdString(selectedMeeting_->id));
    } else {
        defaults_.remove(kSelectedMeetingIdKey);
    }
}

void AssignmentModel::setProjects(std::vector<ProjectResponse> projects) {
    if (projects != projects_) {
        projects_ = std::move(projects);
        emit projectsChanged();
    }
}

void AssignmentModel::setMeetings(std::vector<MeetingResponse> meetings) {
    if (meetings != meetings_) {
        meetings_ = std::move(meetings);
        emit meetingsChanged();
    }
}

void AssignmentModel::setSelectedProject(std::optional<ProjectResponse> project) {
    const bool choiceChanged = project.has_value() != selectedProject_.has_value() ||
                               (project && project->id != selectedProject_->id);
    if (choiceChanged) {
        ++projectChoiceGeneration_;
    }
    if (project != selectedProject_) {
        selectedProject_ = std::move(project);
        emit selectedProjectChanged();
    }
}

void AssignmentModel::setSelectedMeeting(std::optional<MeetingResponse> meeting) {
    if (meeting != selectedMeeting_) {
        selectedMeeting_ = std::move(meeting);
        emit selectedMeetingChanged();
    }
}

void AssignmentModel::setIsLoading(bool loading) {
    if (loading != isLoading_) {
        isLoading_ = loading;
        emit isLoadingChanged();
    }
}

void AssignmentModel::setErrorMessage(std::optional<QString> message) {
    if (message != errorMessage_) {
        errorMessage_ = std::move(message);
        emit errorMessageChanged();
    }
}

void AssignmentModel::changeMeetingLoadsInFlight(int delta) {
    const bool wasLoading = isLoadingMeetings();
    meetingLoadsInFlight_ += delta;
    if (wasLoading != isLoadingMeetings()) {
        emit isLoadingMeetingsChanged();
    }
}

} // namespace veltrane
