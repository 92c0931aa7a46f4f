#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <filesystem>
#include <vector>

namespace veltrane::test {

// The veltrane-cli executable, handed in by the test registration (VELTRANE_CLI).
[[nodiscard]] QString cliPath();

struct CliRun {
    int exitCode = -1; // -1 when it crashed or timed out
    QString out;
    QString err;
};

// Runs veltrane-cli to its end (bounded by `timeoutMs`), with `input` on its standard input.
[[nodiscard]] CliRun runCli(const QStringList& arguments, int timeoutMs = 120000,
                            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                            const QByteArray& input = {});

// Reads a running process's standard output into `seen` until it contains `needle`; false when
// the process ends first or nothing matches within `timeoutMs`.
[[nodiscard]] bool waitForOutput(QProcess& process, const QString& needle, QString& seen,
                                 int timeoutMs = 60000);

// The files of a folder, sorted by name.
[[nodiscard]] std::vector<std::filesystem::path> filesIn(const QTemporaryDir& folder);

// A file's bytes; empty when it cannot be read.
[[nodiscard]] std::string readFile(const std::filesystem::path& path);

void sleepSeconds(double seconds);

} // namespace veltrane::test
