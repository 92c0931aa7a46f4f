#include "devserver/FaultInjector.h"

namespace veltrane::devserver {

FaultInjector::FaultInjector(const FaultOptions& options) : options_(options), engine_(options.randomSeed) {}

void FaultInjector::setOptions(const FaultOptions& options) {
    std::scoped_lock lock(mutex_);
    options_ = options;
    engine_.seed(options.randomSeed);
}

FaultOptions FaultInjector::options() const {
    std::scoped_lock lock(mutex_);
    return options_;
}

UploadFault FaultInjector::drawUploadFault() {
    std::scoped_lock lock(mutex_);
    if (options_.uploadFailurePercent <= 0) {
        return {};
    }
    std::uniform_int_distribution<int> percent(0, 99);
    if (percent(engine_) >= options_.uploadFailurePercent) {
        return {};
    }
    if (options_.uploadFailureClosesConnection) {
        return {.kind = UploadFaultKind::closeConnection};
    }
    return {.kind = UploadFaultKind::status, .status = options_.uploadFailureStatus};
}

} // namespace veltrane::devserver
