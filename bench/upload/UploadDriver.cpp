#include "upload/UploadDriver.h"

#include <QEventLoop>
#include <QTimer>

namespace veltrane::bench {

namespace {

constexpr auto kSettleCheckInterval = std::chrono::milliseconds(20);

} // namespace

UploadDriver::UploadDriver(const std::filesystem::path& applicationDataDirectory, QUrl apiBaseURL,
                           std::filesystem::path chunkDirectory, std::string token,
                           std::shared_ptr<const UploadClock> clock, std::unique_ptr<RetryTimer> retryTimer)
    : manager_(applicationDataDirectory, std::move(clock), std::move(retryTimer)) {
    manager_.setAPIBaseURLProvider([apiBaseURL] { return std::optional<QUrl>(apiBaseURL); });
    manager_.setChunkDirectoryProvider(
        [chunkDirectory] { return std::optional<std::filesystem::path>(chunkDirectory); });
    manager_.setTokenProvider([token] { return std::optional<std::string>(token); });
    manager_.setTokenRefresher([]() -> QCoro::Task<void> { co_return; });
}

bool UploadDriver::runUntilSettled(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Checked between event-loop steps, never in the middle of one of the manager's steps.
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (manager_.isSettled() || std::chrono::steady_clock::now() >= deadline) {
            loop.quit();
        }
    });
    tick.start(kSettleCheckInterval);
    loop.exec();
    return manager_.isSettled();
}

} // namespace veltrane::bench
