#include "integration/CliProcess.h"

#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace veltrane::test {

QString cliPath() {
    return QString::fromLocal8Bit(std::getenv("VELTRANE_CLI"));
}

QString scriptsPath() {
    return QString::fromLocal8Bit(std::getenv("VELTRANE_SCRIPTS"));
}

CliRun runCli(const QStringList& arguments, int timeoutMs, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(cliPath(), arguments);
    CliRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

Tone::Tone(int frequencyHz, int seconds, const QString& clientName) {
    // Its own process group, so the destructor stops the player pipeline and not just the shell.
    process_.setChildProcessModifier([] { ::setpgid(0, 0); });
    process_.start(QStringLiteral("bash"),
                   {scriptsPath() + QStringLiteral("/play-tone.sh"), QString::number(frequencyHz),
                    QString::number(seconds), clientName});
    process_.waitForStarted();
}

Tone::~Tone() {
    if (const qint64 pid = process_.processId(); pid > 0) {
        ::kill(-static_cast<pid_t>(pid), SIGTERM);
    }
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

std::vector<std::filesystem::path> filesIn(const QTemporaryDir& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path().toStdString())) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

void sleepSeconds(double seconds) {
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
}

} // namespace veltrane::test
