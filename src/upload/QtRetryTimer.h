#pragma once

#include "upload/RetryTimer.h"

#include <QTimer>

namespace veltrane {

// RetryTimer on a precise single-shot QTimer (Qt timers use the monotonic clock). Lives on and
// fires on the thread that creates it.
class QtRetryTimer final : public RetryTimer {
public:
    QtRetryTimer();
    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override;
    void cancel() override;
    [[nodiscard]] bool isArmed() const override;

private:
    QTimer timer_;
    std::function<void()> fire_;
};

} // namespace veltrane
