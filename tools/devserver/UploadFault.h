#pragma once

namespace veltrane::devserver {

enum class UploadFaultKind { none, status, closeConnection };

// What the fault injector decided for one upload request.
struct UploadFault {
    UploadFaultKind kind = UploadFaultKind::none;
    // The status to answer with when kind is status.
    int status = 0;
};

} // namespace veltrane::devserver
