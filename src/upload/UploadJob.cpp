#include "upload/UploadJob.h"

#include "platform/core/Uuid.h"

namespace veltrane {

UploadJob UploadJob::makeNew(std::string filename, std::string projectId,
                             std::optional<std::string> projectName, std::optional<std::string> meetingId,
                             std::optional<std::string> meetingName, std::optional<double> duration,
                             ReferenceDate now) {
    UploadJob job;
    job.id = makeUuidString();
    job.filename = std::move(filename);
    job.projectId = std::move(projectId);
    job.projectName = std::move(projectName);
    job.meetingId = std::move(meetingId);
    job.meetingName = std::move(meetingName);
    job.createdAt = now;
    job.duration = duration;
    return job;
}

std::string UploadJob::contextLabel() const {
    std::string label;
    bool first = true;
    for (const auto* part : {&projectName, &meetingName}) {
        if (!part->has_value()) {
            continue;
        }
        if (!first) {
            label += " \u203A ";
        }
        label += **part;
        first = false;
    }
    return label;
}

std::vector<std::pair<std::string, std::string>> UploadJob::multipartFields() const {
    std::vector<std::pair<std::string, std::string>> fields{{"project_id", projectId}};
    if (meetingId) {
        fields.emplace_back("meeting_id", *meetingId);
    }
    return fields;
}

} // namespace veltrane
