#include "app/cli/UploadHandoff.h"

#include "server/ProjectService.h"
#include "server/ServerAccessError.h"
#include "upload/UploadManager.h"

#include <QCoroTask>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <iostream>

namespace veltrane {

namespace {

struct LookedUpNames {
    std::optional<std::string> projectName;
    std::optional<std::string> meetingName;
};

// Looks the names up; an absent name means it could not be found (reason on standard error).
QCoro::Task<LookedUpNames> lookUpNames(ProjectService& projects, std::string projectId,
                                       std::optional<std::string> meetingId) {
    LookedUpNames names;
    try {
        const std::vector<ProjectResponse> active = co_await projects.fetchActiveProjects();
        const auto project = std::find_if(active.begin(), active.end(),
                                          [&](const ProjectResponse& p) { return p.id == projectId; });
        if (project != active.end()) {
            names.projectName = project->name;
        } else {
            std::cerr << "Project " << projectId << " is not among the active projects" << std::endl;
        }
        if (meetingId) {
            const std::vector<MeetingResponse> meetings =
                co_await projects.fetchMeetings(QString::fromStdString(projectId));
            const auto meeting = std::find_if(meetings.begin(), meetings.end(),
                                              [&](const MeetingResponse& m) { return m.id == *meetingId; });
            if (meeting != meetings.end()) {
                names.meetingName = meeting->name;
            } else {
                std::cerr << "Meeting " << *meetingId << " is not among the project's meetings" << std::endl;
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "Could not look up the project and meeting names: " << userDescription(error)
                  << std::endl;
    }
    co_return names;
}

} // namespace

UploadHandoff::UploadHandoff(UploadManager& uploads, ProjectService& projects, std::string projectId,
                             std::optional<std::string> meetingId, QObject* parent)
    : QObject(parent), uploads_(uploads), projects_(projects), projectId_(std::move(projectId)),
      meetingId_(std::move(meetingId)), projectName_(projectId_), meetingName_(meetingId_) {}

void UploadHandoff::start(bool signedIn) {
    if (!signedIn) {
        std::cerr << "Not signed in: chunks are queued for upload under their ids" << std::endl;
        namesResolved(std::nullopt, std::nullopt);
        return;
    }
    // A detached coroutine on the main thread; it holds the hand-off weakly across the wait.
    [](QPointer<UploadHandoff> self, ProjectService& projects, std::string projectId,
       std::optional<std::string> meetingId) -> QCoro::Task<void> {
        LookedUpNames names = co_await lookUpNames(projects, std::move(projectId), std::move(meetingId));
        if (self) {
            self->namesResolved(std::move(names.projectName), std::move(names.meetingName));
        }
    }(QPointer<UploadHandoff>(this), projects_, projectId_, meetingId_);
}

void UploadHandoff::namesResolved(std::optional<std::string> projectName,
                                  std::optional<std::string> meetingName) {
    if (projectName) {
        projectName_ = std::move(*projectName);
    }
    if (meetingName) {
        meetingName_ = std::move(meetingName);
    }
    namesKnown_ = true;
    std::vector<std::string> waiting;
    waiting.swap(waiting_);
    for (const std::string& filename : waiting) {
        enqueue(filename);
    }
    reportIfIdle();
}

void UploadHandoff::flushNow() {
    std::vector<std::string> waiting;
    waiting.swap(waiting_);
    for (const std::string& filename : waiting) {
        enqueue(filename);
    }
}

void UploadHandoff::chunkReady(const std::filesystem::path& chunkFile) {
    ++postsInFlight_;
    QTimer::singleShot(0, this, [this, filename = chunkFile.filename().string()] {
        --postsInFlight_;
        handOver(filename);
    });
}

void UploadHandoff::handOver(const std::string& filename) {
    if (namesKnown_) {
        enqueue(filename);
    } else {
        waiting_.push_back(filename);
    }
    reportIfIdle();
}

void UploadHandoff::enqueue(const std::string& filename) {
    // The recorder reports no per-chunk length, so the duration stays absent.
    uploads_.enqueue(filename, projectId_, projectName_, meetingId_, meetingName_, std::nullopt);
}

void UploadHandoff::reportIfIdle() {
    if (isIdle()) {
        emit idle();
    }
}

} // namespace veltrane
