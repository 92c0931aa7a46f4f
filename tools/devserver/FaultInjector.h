#pragma once

#include "devserver/Options.h"

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <random>
#include <string>

namespace veltrane::devserver {

// Drops a request's connection without an answer, as a crashing server would. The socket is
// shut down, not closed, so the server's own bookkeeping of it stays valid; writing the answer
// then fails and the connection ends.
class ConnectionCloser {
public:
    // False when the request's socket could not be found.
    [[nodiscard]] static bool close(const httplib::Request& request);
};

// Decides which requests misbehave; safe to use from several threads. The draw is reproducible:
// the same seed fails the same upload requests in arrival order.
class FaultInjector {
public:
    explicit FaultInjector(const FaultOptions& options);

    // Replaces the options and restarts the draw from their seed.
    void setOptions(const FaultOptions& options);
    [[nodiscard]] FaultOptions options() const;
    // One draw per upload request.
    [[nodiscard]] UploadFault drawUploadFault();

private:
    mutable std::mutex mutex_;
    FaultOptions options_;
    std::mt19937 engine_;
};

// Counts the requests by path and prints one line per answered request:
//   GET /api/v1/projects?status=active 200 412 bytes 3 ms
// Safe to use from the server's worker threads.
class RequestLog {
public:
    explicit RequestLog(bool printLines);

    // When a request's headers have been read.
    void begin(const httplib::Request& request);
    // The request's connection was dropped on purpose; its line says "closed" instead of a status.
    void markConnectionClosed(const httplib::Request& request);
    // When the answer has been written.
    void finish(const httplib::Request& request, const httplib::Response& response);
    [[nodiscard]] std::size_t count(const std::string& pathPrefix) const;

private:
    struct Pending {
        std::chrono::steady_clock::time_point startedAt;
        bool connectionClosed = false;
    };

    bool printLines_ = true;
    mutable std::mutex mutex_;
    std::map<std::string, std::size_t> countsByPath_;
    // Keyed by the request object, which lives as long as its exchange.
    std::map<const httplib::Request*, Pending> pending_;
};

} // namespace veltrane::devserver
