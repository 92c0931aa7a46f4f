#include "upload/SystemUploadClock.h"

#include <chrono>

namespace veltrane {

ReferenceDate SystemUploadClock::now() const {
    return ReferenceDate::fromSystemTime(std::chrono::system_clock::now());
}

} // namespace veltrane
