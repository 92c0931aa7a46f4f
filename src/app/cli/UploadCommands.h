#pragma once

#include <QString>
#include <QStringList>

namespace veltrane {

// The upload queue commands of veltrane-cli: uploads, upload, retry-all.
[[nodiscard]] bool isUploadCommand(const QString& name);

// Runs one of them. `arguments` starts with the command name. Returns the exit code: 0 success,
// 1 a failure at run time, 2 bad usage.
[[nodiscard]] int runUploadCommand(const QStringList& arguments);

} // namespace veltrane
