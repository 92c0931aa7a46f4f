#include "upload/LoadedJobsOrder.h"

#include <algorithm>

namespace veltrane {

std::vector<UploadJob> orderLoadedJobs(std::vector<UploadJob> fileJobs) {
    std::vector<UploadJob> completed;
    std::vector<UploadJob> others;
    for (UploadJob& job : fileJobs) {
        (job.state == UploadState::completed ? completed : others).push_back(std::move(job));
    }
    std::vector<UploadJob> result;
    result.reserve(std::min(completed.size(), maxCompletedJobsKeptAtLoad) + others.size());
    const std::size_t firstKept =
        completed.size() > maxCompletedJobsKeptAtLoad ? completed.size() - maxCompletedJobsKeptAtLoad : 0;
    std::move(completed.begin() + static_cast<std::ptrdiff_t>(firstKept), completed.end(),
              std::back_inserter(result));
    std::move(others.begin(), others.end(), std::back_inserter(result));
    std::stable_sort(result.begin(), result.end(),
                     [](const UploadJob& a, const UploadJob& b) { return a.createdAt < b.createdAt; });
    return result;
}

} // namespace veltrane
