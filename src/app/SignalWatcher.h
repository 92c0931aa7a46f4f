#pragma once

#include <QObject>

class QSocketNotifier;

namespace veltrane {

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, through a signalfd, so the
// command line can stop a recording cleanly.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    // Blocks SIGINT and SIGTERM for the calling thread and every thread it starts later.
    // Call first thing in main, before any thread exists.
    static void blockTerminationSignals();

    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace veltrane
