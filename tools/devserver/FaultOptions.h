#pragma once

#include <cstdint>

namespace veltrane::devserver {

// Misbehaviour the server can be asked to show, so that clients' error paths can be exercised.
struct FaultOptions {
    // Share of upload requests (0 to 100) that are failed on purpose.
    int uploadFailurePercent = 0;
    // Status of a failed upload; 401 makes the token check fail for that request.
    int uploadFailureStatus = 500;
    // A failed upload is answered by closing the connection instead of with a status.
    bool uploadFailureClosesConnection = false;
    // Added before every answer.
    int responseDelayMs = 0;
    // A session token stops working after this many authenticated requests; 0 keeps it valid.
    int tokenExpiresAfterRequests = 0;
    // Seed of the draw that picks the failed uploads; the same seed fails the same requests.
    std::uint32_t randomSeed = 1;
};

} // namespace veltrane::devserver
