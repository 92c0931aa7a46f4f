#include "upload/ReferenceDate.h"

namespace veltrane {

ReferenceDate ReferenceDate::fromSystemTime(std::chrono::system_clock::time_point time) {
    const auto sinceEpoch = std::chrono::duration<double>(time.time_since_epoch()).count();
    return ReferenceDate{sinceEpoch - unixSecondsAtReferenceDate};
}

} // namespace veltrane
