#include "app/SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace veltrane {

namespace {

constexpr int kConnectTimeoutMs = 1000;

} // namespace

QString SingleInstance::defaultName() {
    // In the per-user runtime folder when there is one (a private one isolates a test session).
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        return QString::fromLocal8Bit(runtime) + QStringLiteral("/co.brimfold.VeltraneRecorder.socket");
    }
    return QStringLiteral("co.brimfold.VeltraneRecorder-%1").arg(::getuid());
}

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

bool SingleInstance::claim() {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        socket.write("raise\n");
        (void)socket.waitForBytesWritten(kConnectTimeoutMs);
        socket.disconnectFromServer();
        return false;
    }
    // Nobody answers: a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        return true; // run anyway: one window is better than none
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            emit activationRequested();
        }
    });
    return true;
}

} // namespace veltrane
