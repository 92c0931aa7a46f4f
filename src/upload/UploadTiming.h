#pragma once

#include <QTimer>

#include <chrono>
#include <compare>
#include <functional>

namespace veltrane {

// A moment in time as the queue file stores it: seconds (with fraction) since
// 2001-01-01 00:00:00 UTC. Kept as the double itself so that a value read from the file is
// written back unchanged.
struct ReferenceDate {
    double secondsSinceReferenceDate = 0.0;

    // Seconds between 1970-01-01 and 2001-01-01, both UTC.
    static constexpr double kUnixSecondsAtReferenceDate = 978307200.0;

    [[nodiscard]] static ReferenceDate fromSystemTime(std::chrono::system_clock::time_point time);
    [[nodiscard]] ReferenceDate addingSeconds(double seconds) const {
        return ReferenceDate{secondsSinceReferenceDate + seconds};
    }
    [[nodiscard]] double secondsSince(ReferenceDate earlier) const {
        return secondsSinceReferenceDate - earlier.secondsSinceReferenceDate;
    }

    auto operator<=>(const ReferenceDate&) const = default;
};

// The wall-clock time the upload manager stamps jobs and deadlines with. Injected so that
// tests control time.
class UploadClock {
public:
    virtual ~UploadClock() = default;
    [[nodiscard]] virtual ReferenceDate now() const = 0;
};

// The system's wall clock.
class SystemUploadClock final : public UploadClock {
public:
    [[nodiscard]] ReferenceDate now() const override;
};

// One cancellable one-shot timer on the owner's thread, measured on a monotonic clock.
// Injected so that tests fire it at will.
class RetryTimer {
public:
    virtual ~RetryTimer() = default;
    // Arms the timer, replacing any armed one: `fire` runs once after `delay`.
    virtual void arm(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
    // Disarms the timer; an armed `fire` never runs.
    virtual void cancel() = 0;
    [[nodiscard]] virtual bool isArmed() const = 0;
};

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
