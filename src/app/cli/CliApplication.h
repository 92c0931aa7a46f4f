#pragma once

#include <QStringList>

namespace veltrane {

// Runs one `veltrane-cli` command. `arguments` excludes the program name. Returns the exit
// code: 0 success, 1 a failure at run time, 2 bad usage.
[[nodiscard]] int runCli(const QStringList& arguments);

} // namespace veltrane
