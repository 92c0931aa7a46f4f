#pragma once

#include <QStringList>

#include <memory>

namespace veltrane {

class AppEnvironment;

// Runs one `veltrane-cli` command. `arguments` excludes the program name. Returns the exit
// code: 0 success, 1 a failure at run time, 2 bad usage.
[[nodiscard]] int runCli(const QStringList& arguments);

// Whether a command works on the upload queue (and so must hold it alone).
enum class QueueClaim { required, notNeeded };

// The application environment for one command. Null, with the reason on standard error and the
// exit code in `exitCode`, when VELTRANE_SERVER_URL is unusable (2) or the upload queue is
// required but held by another process (1).
[[nodiscard]] std::unique_ptr<AppEnvironment> makeCliEnvironment(QueueClaim claim, int& exitCode);

} // namespace veltrane
