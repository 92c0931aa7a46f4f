#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

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

enum class UploadFaultKind { none, status, closeConnection };

// What the fault injector decided for one upload request.
struct UploadFault {
    UploadFaultKind kind = UploadFaultKind::none;
    // The status to answer with when kind is status.
    int status = 0;
};

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

// The command line of veltrane-devserver.
class CommandLine {
public:
    // Options from the arguments (without the program name); the error text names the bad argument.
    // "--help" gives the usage text as the error.
    [[nodiscard]] static std::expected<Options, std::string> parse(const std::vector<std::string>& arguments);
    [[nodiscard]] static std::string usage();
};

} // namespace veltrane::devserver
