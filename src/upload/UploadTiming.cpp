#include "upload/UploadTiming.h"

#include <chrono>

namespace veltrane {

ReferenceDate ReferenceDate::fromSystemTime(std::chrono::system_clock::time_point time) {
    const auto sinceEpoch = std::chrono::duration<double>(time.time_since_epoch()).count();
    return ReferenceDate{sinceEpoch - kUnixSecondsAtReferenceDate};
}

ReferenceDate SystemUploadClock::now() const {
    return ReferenceDate::fromSystemTime(std::chrono::system_clock::now());
}

QtRetryTimer::QtRetryTimer() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        auto fire = std::move(fire_);
        fire_ = nullptr;
        if (fire) {
            fire();
        }
    });
}

void QtRetryTimer::arm(std::chrono::milliseconds delay, std::function<void()> fire) {
    timer_.stop();
    fire_ = std::move(fire);
    timer_.start(delay);
}

void QtRetryTimer::cancel() {
    timer_.stop();
    fire_ = nullptr;
}

bool QtRetryTimer::isArmed() const {
    return timer_.isActive();
}

} // namespace veltrane
