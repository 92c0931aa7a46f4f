#pragma once

#include "devserver/FaultOptions.h"

#include <filesystem>
#include <optional>
#include <string>

namespace veltrane::devserver {

struct Options {
    // Address to listen on; keep it on the loopback interface.
    std::string host = "127.0.0.1";
    // 0 picks a free port; DevServer::port() tells which.
    int port = 0;
    // Uploaded files land under <dataDir>/<project id>/<meeting id or "no-meeting">/.
    std::filesystem::path dataDir;
    // Users, projects and meetings; the built-in demo data when absent.
    std::optional<std::filesystem::path> seedFile;
    // Both given: the server speaks HTTPS with this certificate chain and private key (PEM).
    std::optional<std::filesystem::path> tlsCertFile, tlsKeyFile;
    FaultOptions faults;
    // One line per request on standard output.
    bool logRequests = true;
    // How long a login flow can be submitted after it was started.
    int loginFlowLifetimeSeconds = 600;
    // How long an idle keep-alive connection is held; stop() waits for held connections.
    int keepAliveTimeoutSeconds = 5;
};

} // namespace veltrane::devserver
