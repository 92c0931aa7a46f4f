#include "support/CliProcess.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace veltrane::test {

QString cliPath() {
    return QString::fromLocal8Bit(std::getenv("VELTRANE_CLI"));
}

CliRun runCli(const QStringList& arguments, int timeoutMs, const QProcessEnvironment& environment,
              const QByteArray& input) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(cliPath(), arguments);
    process.write(input);
    process.closeWriteChannel();
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

bool waitForOutput(QProcess& process, const QString& needle, QString& seen, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        seen += QString::fromUtf8(process.readAllStandardOutput());
        if (seen.contains(needle)) {
            return true;
        }
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            return false;
        }
        process.waitForReadyRead(100);
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

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

void sleepSeconds(double seconds) {
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
}

} // namespace veltrane::test
