#include "upload/ProcessMemory.h"

#include <fstream>
#include <sstream>
#include <string>

namespace veltrane::bench {

namespace {

std::optional<long> statusFieldKib(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            std::istringstream values(line.substr(field.size() + 1));
            long kib = 0;
            if (values >> kib) {
                return kib;
            }
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<long> ProcessMemory::residentKib() {
    return statusFieldKib("VmRSS");
}

std::optional<long> ProcessMemory::peakResidentKib() {
    return statusFieldKib("VmHWM");
}

bool ProcessMemory::resetPeak() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return static_cast<bool>(clearRefs);
}

} // namespace veltrane::bench
