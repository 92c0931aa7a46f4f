#include "encode/ResourceUsage.h"

#include <sys/resource.h>

namespace veltrane::bench {

namespace {

double cpuSeconds(const rusage& usage) {
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

rusage usageOf(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage;
}

} // namespace

ResourceUsage ResourceUsage::now() {
    ResourceUsage usage;
    usage.wallTime = std::chrono::steady_clock::now();
    usage.selfCpuSeconds = cpuSeconds(usageOf(RUSAGE_SELF));
    usage.childrenCpuSeconds = cpuSeconds(usageOf(RUSAGE_CHILDREN));
    return usage;
}

double ResourceUsage::selfPeakRssMegabytes() {
    return static_cast<double>(usageOf(RUSAGE_SELF).ru_maxrss) / 1024.0;
}

double ResourceUsage::childrenPeakRssMegabytes() {
    return static_cast<double>(usageOf(RUSAGE_CHILDREN).ru_maxrss) / 1024.0;
}

StepCost costBetween(const ResourceUsage& start, const ResourceUsage& end, bool selfCpu) {
    StepCost cost;
    cost.wallSeconds = std::chrono::duration<double>(end.wallTime - start.wallTime).count();
    cost.cpuSeconds = selfCpu ? end.selfCpuSeconds - start.selfCpuSeconds
                              : end.childrenCpuSeconds - start.childrenCpuSeconds;
    return cost;
}

} // namespace veltrane::bench
