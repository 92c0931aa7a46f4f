#include "app/cli/UploadQueueReport.h"

#include "upload/UploadState.h"

#include <algorithm>

namespace veltrane {

namespace {

// Tabs and line breaks inside a field would break the one-line, tab-separated layout.
std::string oneField(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return text;
}

} // namespace

std::string UploadQueueReport::line(const UploadJob& job) {
    std::string text(rawValue(job.state));
    text.append("\t").append(std::to_string(job.attempts));
    text.append("\t").append(oneField(job.filename));
    text.append("\t").append(oneField(job.contextLabel()));
    text.append("\t").append(oneField(job.lastError.value_or("")));
    return text;
}

std::string UploadQueueReport::summary(const std::vector<UploadJob>& jobs) {
    const auto count = [&](UploadState state) {
        return std::count_if(jobs.begin(), jobs.end(),
                             [state](const UploadJob& job) { return job.state == state; });
    };
    return "Uploads: " + std::to_string(count(UploadState::completed)) + " completed, " +
           std::to_string(count(UploadState::pending) + count(UploadState::uploading)) + " pending, " +
           std::to_string(count(UploadState::failed)) + " failed";
}

bool UploadQueueReport::allCompleted(const std::vector<UploadJob>& jobs) {
    return std::all_of(jobs.begin(), jobs.end(),
                       [](const UploadJob& job) { return job.state == UploadState::completed; });
}

} // namespace veltrane
