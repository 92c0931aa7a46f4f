#pragma once

#include "devserver/DevServer.h"

#include <QProcess>
#include <QStringList>

#include <filesystem>
#include <memory>
#include <string>

namespace veltrane::test {

enum class StandInMode {
    inProcess, // a DevServer object in this process: faults and request counts are reachable
    program,   // the veltrane-devserver program (its path in VELTRANE_DEVSERVER)
};

// The local stand-in server with the demo data on a free port of 127.0.0.1, quiet, its uploads
// under `dataDir`, running until stop() or destruction. `programArguments` are added to the
// program's command line (e.g. fault options).
class StandInServer {
public:
    static constexpr const char* kDemoEmail = "demo@veltrane.test";
    static constexpr const char* kDemoPassword = "demo-password";

    StandInServer(StandInMode mode, std::filesystem::path dataDir, const QStringList& programArguments = {});
    ~StandInServer();
    StandInServer(const StandInServer&) = delete;
    StandInServer& operator=(const StandInServer&) = delete;

    // False when it did not start (the reason is in the test's output).
    [[nodiscard]] bool isRunning() const noexcept { return port_ > 0; }
    [[nodiscard]] int port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>", no trailing slash.
    [[nodiscard]] std::string baseURL() const;
    [[nodiscard]] const std::filesystem::path& dataDir() const noexcept { return dataDir_; }
    // The server object of StandInMode::inProcess.
    [[nodiscard]] devserver::DevServer& inProcess();
    // Stops it (SIGTERM for the program, so that it ends cleanly).
    void stop();

    // A session token of the demo user through the login flow; empty (and a test failure) when
    // the sign-in does not succeed.
    [[nodiscard]] std::string signInDemoUser() const;

private:
    std::filesystem::path dataDir_;
    std::unique_ptr<devserver::DevServer> server_;
    std::unique_ptr<QProcess> process_;
    int port_ = 0;
};

} // namespace veltrane::test
