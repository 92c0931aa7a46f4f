#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace veltrane {

// Keeps the window to one per user: the first process listens on a local socket; a later start
// asks it to come to the front and ends. Main thread only.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // The per-user socket: in the runtime folder, or named after the user id.
    [[nodiscard]] static QString defaultName();

    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    // True when this process is the one instance (it listens from now on); false when another
    // instance runs and has been asked to come to the front.
    [[nodiscard]] bool claim();

signals:
    // A later start asked this instance to come to the front.
    void activationRequested();

private:
    QString name_;
    QLocalServer* server_ = nullptr;
};

} // namespace veltrane
