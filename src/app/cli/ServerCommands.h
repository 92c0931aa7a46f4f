#pragma once

#include <QString>
#include <QStringList>

namespace veltrane {

// The command-line face of server access: login, whoami, projects, meetings, create-meeting.
[[nodiscard]] bool isServerCommand(const QString& name);

// Runs one command; `arguments[0]` is the command name. Runs the event loop until the command is
// done (a QCoreApplication must exist). Exit codes: 0 success, 1 server or sign-in failure, 2 bad usage.
[[nodiscard]] int runServerCommand(const QStringList& arguments);

} // namespace veltrane
