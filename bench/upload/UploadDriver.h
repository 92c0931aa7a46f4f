#pragma once

#include "upload/UploadManager.h"

#include <QUrl>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace veltrane::bench {

// An upload manager wired for a run against the stand-in server: fixed API base, chunk folder
// and token, a token refresher that does nothing, and optionally a scaled clock and timer.
class UploadDriver {
public:
    UploadDriver(const std::filesystem::path& applicationDataDirectory, QUrl apiBaseURL,
                 std::filesystem::path chunkDirectory, std::string token,
                 std::shared_ptr<const UploadClock> clock = nullptr,
                 std::unique_ptr<RetryTimer> retryTimer = nullptr);

    [[nodiscard]] UploadManager& manager() { return manager_; }

    // Runs the event loop until the manager is settled or `limit` has passed; whether it settled.
    [[nodiscard]] bool runUntilSettled(std::chrono::milliseconds limit);

private:
    UploadManager manager_;
};

} // namespace veltrane::bench
