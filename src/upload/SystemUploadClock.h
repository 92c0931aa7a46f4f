#pragma once

#include "upload/UploadClock.h"

namespace veltrane {

// The system's wall clock.
class SystemUploadClock final : public UploadClock {
public:
    [[nodiscard]] ReferenceDate now() const override;
};

} // namespace veltrane
