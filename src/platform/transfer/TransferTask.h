#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace veltrane {

class TransferWorkerLink;

// Handle of one transfer task of a TransferSession. Created suspended; resume() starts it.
// Safe to use from any thread, also after the session is gone (then it does nothing).
class TransferTask {
public:
    TransferTask(std::int64_t identifier, std::shared_ptr<TransferWorkerLink> link);

    // Unique within the session.
    [[nodiscard]] std::int64_t identifier() const { return identifier_; }

    [[nodiscard]] std::optional<std::string> description() const;
    void setDescription(std::string description);

    // Starts the transfer (once; later calls do nothing).
    void resume();

private:
    const std::int64_t identifier_;
    std::shared_ptr<TransferWorkerLink> link_;
    mutable std::mutex mutex_;
    std::optional<std::string> description_;
};

} // namespace veltrane
