#pragma once

#include <httplib.h>

namespace veltrane::devserver {

// Drops a request's connection without an answer, as a crashing server would. The socket is
// shut down, not closed, so the server's own bookkeeping of it stays valid; writing the answer
// then fails and the connection ends.
class ConnectionCloser {
public:
    // False when the request's socket could not be found.
    [[nodiscard]] static bool close(const httplib::Request& request);
};

} // namespace veltrane::devserver
