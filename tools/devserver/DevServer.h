#pragma once

#include "devserver/Options.h"

#include <cstddef>
#include <memory>
#include <string>

namespace veltrane::devserver {

// A local stand-in for the team's server: the identity service's password login flow, the JSON
// API under "/api/v1" (profile, projects, meetings) and the ingestion upload endpoint. It serves
// from its own thread; every public member may be called from any thread.
class DevServer {
public:
    explicit DevServer(Options options);
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Loads the seed data, binds and starts serving; returns once connections are accepted.
    // False when the seed data, the TLS files or the address are unusable (reason on stderr).
    [[nodiscard]] bool start();
    // The bound port once started, otherwise the configured one.
    [[nodiscard]] int port() const;
    // "http://127.0.0.1:<port>", or https when serving TLS; no trailing slash.
    [[nodiscard]] std::string baseURL() const;
    // Stops serving and waits for the server thread; harmless when not running.
    void stop();
    // Replaces the fault options; takes effect with the next request.
    void setFaults(const FaultOptions& faults);
    // Number of requests so far whose path (without query) starts with the prefix.
    [[nodiscard]] std::size_t requestCount(const std::string& pathPrefix) const;

private:
    struct Runtime;
    Options options_;
    std::unique_ptr<Runtime> runtime_;
};

} // namespace veltrane::devserver
