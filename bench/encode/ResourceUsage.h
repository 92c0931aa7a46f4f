#pragma once

#include <chrono>

namespace veltrane::bench {

// Wall-clock and CPU time at one moment, for this process and for its waited-for children.
struct ResourceUsage {
    std::chrono::steady_clock::time_point wallTime;
    double selfCpuSeconds = 0;
    double childrenCpuSeconds = 0;

    [[nodiscard]] static ResourceUsage now();
    // Peak resident set sizes so far, in megabytes.
    [[nodiscard]] static double selfPeakRssMegabytes();
    [[nodiscard]] static double childrenPeakRssMegabytes();
};

// What one measured step cost.
struct StepCost {
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

// The cost between two snapshots, counting this process's CPU (selfCpu) or its children's.
[[nodiscard]] StepCost costBetween(const ResourceUsage& start, const ResourceUsage& end, bool selfCpu);

} // namespace veltrane::bench
