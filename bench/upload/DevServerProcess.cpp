#include "upload/DevServerProcess.h"

#include <QRegularExpression>

namespace veltrane::bench {

namespace {

constexpr int kStartTimeLimitMs = 10000;
constexpr int kStopTimeLimitMs = 10000;

} // namespace

DevServerProcess::DevServerProcess(const QString& program, const QString& dataDir,
                                   const QStringList& extraArguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                        QStringLiteral("--data"), dataDir, QStringLiteral("--quiet")} +
                                extraArguments);
    const QRegularExpression listening(QStringLiteral("^Listening on http://127\\.0\\.0\\.1:(\\d+)"));
    if (!process_.waitForStarted(kStartTimeLimitMs)) {
        return;
    }
    while (process_.waitForReadyRead(kStartTimeLimitMs) || process_.canReadLine()) {
        while (process_.canReadLine()) {
            const auto match = listening.match(QString::fromUtf8(process_.readLine()));
            if (match.hasMatch()) {
                port_ = match.captured(1).toInt();
                return;
            }
        }
    }
}

DevServerProcess::~DevServerProcess() {
    if (process_.state() == QProcess::NotRunning) {
        return;
    }
    process_.terminate();
    if (!process_.waitForFinished(kStopTimeLimitMs)) {
        process_.kill();
        process_.waitForFinished(kStopTimeLimitMs);
    }
}

} // namespace veltrane::bench
