#include "platform/capture/pulse/CallbackGate.h"

namespace veltrane {

void CallbackGate::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool CallbackGate::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

} // namespace veltrane
