#include "devserver/ProjectCatalog.h"

#include <algorithm>

namespace veltrane::devserver {

ProjectCatalog::ProjectCatalog(std::vector<ProjectRecord> projects, std::vector<MeetingRecord> meetings)
    : projects_(std::move(projects)), meetings_(std::move(meetings)) {}

std::vector<ProjectRecord> ProjectCatalog::projects(const std::optional<std::string>& status) const {
    std::scoped_lock lock(mutex_);
    std::vector<ProjectRecord> result;
    std::ranges::copy_if(projects_, std::back_inserter(result),
                         [&](const ProjectRecord& project) { return !status || project.status == *status; });
    return result;
}

bool ProjectCatalog::hasProject(const std::string& projectId) const {
    std::scoped_lock lock(mutex_);
    return hasProjectLocked(projectId);
}

bool ProjectCatalog::hasProjectLocked(const std::string& projectId) const {
    return std::ranges::find(projects_, projectId, &ProjectRecord::id) != projects_.end();
}

std::optional<std::vector<MeetingRecord>> ProjectCatalog::meetingsOf(const std::string& projectId) const {
    std::scoped_lock lock(mutex_);
    if (!hasProjectLocked(projectId)) {
        return std::nullopt;
    }
    std::vector<MeetingRecord> result;
    std::ranges::copy_if(meetings_, std::back_inserter(result),
                         [&](const MeetingRecord& meeting) { return meeting.projectId == projectId; });
    return result;
}

bool ProjectCatalog::hasMeeting(const std::string& projectId, const std::string& meetingId) const {
    std::scoped_lock lock(mutex_);
    return std::ranges::any_of(meetings_, [&](const MeetingRecord& meeting) {
        return meeting.id == meetingId && meeting.projectId == projectId;
    });
}

bool ProjectCatalog::addMeeting(const MeetingRecord& meeting) {
    std::scoped_lock lock(mutex_);
    if (!hasProjectLocked(meeting.projectId)) {
        return false;
    }
    meetings_.push_back(meeting);
    return true;
}

} // namespace veltrane::devserver
