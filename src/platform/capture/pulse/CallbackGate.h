#pragma once

#include <mutex>

namespace veltrane {

// Lets work posted elsewhere (for example a buffer hand-off posted to a serial queue) run
// only while its owner is alive. The owner closes the gate in its destructor; once close()
// returns, no gated call is running on another thread and none will start. A gated call may
// itself close the gate (the lock is recursive).
class CallbackGate {
public:
    template <typename Fn> void runIfOpen(Fn&& fn) {
        std::lock_guard lock(mutex_);
        if (open_) {
            fn();
        }
    }

    void close();
    [[nodiscard]] bool isOpen() const;

private:
    mutable std::recursive_mutex mutex_;
    bool open_ = true;
};

} // namespace veltrane
