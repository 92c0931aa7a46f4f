#pragma once

#include "upload/UploadJob.h"

#include <cstddef>
#include <vector>

namespace veltrane {

// Most completed jobs kept when the queue file is loaded; other states are never dropped.
inline constexpr std::size_t maxCompletedJobsKeptAtLoad = 500;

// The list a load produces from the file's jobs: the last 500 completed jobs (file order)
// followed by all others, stably sorted by createdAt, oldest first.
[[nodiscard]] std::vector<UploadJob> orderLoadedJobs(std::vector<UploadJob> fileJobs);

} // namespace veltrane
