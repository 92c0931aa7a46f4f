#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace veltrane::bench {

// A veltrane-devserver process on 127.0.0.1 (a free port) for as long as the object lives, so
// that its memory is not counted as ours.
class DevServerProcess {
public:
    DevServerProcess(const QString& program, const QString& dataDir, const QStringList& extraArguments = {});
    ~DevServerProcess();
    DevServerProcess(const DevServerProcess&) = delete;
    DevServerProcess& operator=(const DevServerProcess&) = delete;

    // False when it did not print its address within the time limit.
    [[nodiscard]] bool isListening() const { return port_ > 0; }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] QString baseURL() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }

private:
    QProcess process_;
    int port_ = 0;
};

} // namespace veltrane::bench
