#pragma once

#include "upload/ReferenceDate.h"

namespace veltrane {

// The wall-clock time the upload manager stamps jobs and deadlines with. Injected so that
// tests control time.
class UploadClock {
public:
    virtual ~UploadClock() = default;
    [[nodiscard]] virtual ReferenceDate now() const = 0;
};

} // namespace veltrane
