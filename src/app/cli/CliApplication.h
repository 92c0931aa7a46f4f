#pragma once

#include "app/AppEnvironment.h"

#include <QCoreApplication>
#include <QStringList>

#include <memory>

namespace veltrane {

// The translation context of what the commands tell people: errors, prompts and progress. What
// they print as data for scripts (sources, projects, meetings, uploads), the usage texts (the
// manual pages are made from them) and the log lines stay as written.
class CliText {
    Q_DECLARE_TR_FUNCTIONS(veltrane::CliText)
};

// Runs one `veltrane-cli` command. `arguments` excludes the program name. Returns the exit
// code: 0 success, 1 a failure at run time, 2 bad usage.
[[nodiscard]] int runCli(const QStringList& arguments);

// The application environment for one command. Null, with the reason on standard error and the
// exit code in `exitCode`, when VELTRANE_SERVER_URL is unusable (2) or the upload queue is to be
// taken but another process holds it (1).
[[nodiscard]] std::unique_ptr<AppEnvironment> makeCliEnvironment(UploadQueueClaim claim, int& exitCode);

} // namespace veltrane
