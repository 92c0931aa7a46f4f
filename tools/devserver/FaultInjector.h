#pragma once

#include "devserver/FaultOptions.h"
#include "devserver/UploadFault.h"

#include <mutex>
#include <random>

namespace veltrane::devserver {

// Decides which requests misbehave; safe to use from several threads. The draw is reproducible:
// the same seed fails the same upload requests in arrival order.
class FaultInjector {
public:
    explicit FaultInjector(const FaultOptions& options);

    // Replaces the options and restarts the draw from their seed.
    void setOptions(const FaultOptions& options);
    [[nodiscard]] FaultOptions options() const;
    // One draw per upload request.
    [[nodiscard]] UploadFault drawUploadFault();

private:
    mutable std::mutex mutex_;
    FaultOptions options_;
    std::mt19937 engine_;
};

} // namespace veltrane::devserver
