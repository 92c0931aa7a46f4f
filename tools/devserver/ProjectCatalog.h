#pragma once

#include "devserver/MeetingRecord.h"
#include "devserver/ProjectRecord.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::devserver {

// Projects and their meetings, in the order they were added; safe to use from several threads.
class ProjectCatalog {
public:
    ProjectCatalog(std::vector<ProjectRecord> projects, std::vector<MeetingRecord> meetings);

    // All projects, or those whose status equals the given one.
    [[nodiscard]] std::vector<ProjectRecord> projects(const std::optional<std::string>& status) const;
    [[nodiscard]] bool hasProject(const std::string& projectId) const;
    // Absent when the project is unknown.
    [[nodiscard]] std::optional<std::vector<MeetingRecord>> meetingsOf(const std::string& projectId) const;
    [[nodiscard]] bool hasMeeting(const std::string& projectId, const std::string& meetingId) const;
    // Adds the meeting to its project; false when the project is unknown.
    [[nodiscard]] bool addMeeting(const MeetingRecord& meeting);

private:
    [[nodiscard]] bool hasProjectLocked(const std::string& projectId) const;

    mutable std::mutex mutex_;
    std::vector<ProjectRecord> projects_;
    std::vector<MeetingRecord> meetings_;
};

} // namespace veltrane::devserver
