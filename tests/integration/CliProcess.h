#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <filesystem>
#include <vector>

namespace veltrane::test {

// Paths handed in by the test registration: the veltrane-cli executable and scripts/.
[[nodiscard]] QString cliPath();
[[nodiscard]] QString scriptsPath();

struct CliRun {
    int exitCode = -1; // -1 when it crashed or timed out
    QString out;
    QString err;
};

// Runs veltrane-cli to its end (bounded by `timeoutMs`).
[[nodiscard]] CliRun
runCli(const QStringList& arguments, int timeoutMs = 120000,
       const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// A tone played on the default output device by a named client for as long as the object
// lives; the whole player pipeline is stopped with it.
class Tone {
public:
    Tone(int frequencyHz, int seconds, const QString& clientName);
    ~Tone();
    Tone(const Tone&) = delete;
    Tone& operator=(const Tone&) = delete;

private:
    QProcess process_;
};

// The files of a folder, sorted by name.
[[nodiscard]] std::vector<std::filesystem::path> filesIn(const QTemporaryDir& folder);

void sleepSeconds(double seconds);

} // namespace veltrane::test
