#include "upload/QtRetryTimer.h"

namespace veltrane {

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
