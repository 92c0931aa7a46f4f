#pragma once

#include <optional>

namespace veltrane::bench {

// This process's resident memory, from /proc/self/status.
class ProcessMemory {
public:
    // VmRSS: resident now, in KiB.
    [[nodiscard]] static std::optional<long> residentKib();
    // VmHWM: the peak resident size since start or the last resetPeak(), in KiB.
    [[nodiscard]] static std::optional<long> peakResidentKib();
    // Resets the peak to the current resident size (writes 5 to /proc/self/clear_refs).
    // False when the kernel refused.
    [[nodiscard]] static bool resetPeak();
};

} // namespace veltrane::bench
