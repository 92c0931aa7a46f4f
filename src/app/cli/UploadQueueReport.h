#pragma once

#include "upload/UploadJob.h"

#include <string>
#include <vector>

namespace veltrane {

// The command line's text views of the upload queue.
class UploadQueueReport {
public:
    // state, attempts, file name, context label, last error; tab-separated, no line break.
    [[nodiscard]] static std::string line(const UploadJob& job);
    // "Uploads: C completed, P pending, F failed" (uploading jobs count as pending).
    [[nodiscard]] static std::string summary(const std::vector<UploadJob>& jobs);
    [[nodiscard]] static bool allCompleted(const std::vector<UploadJob>& jobs);
};

} // namespace veltrane
