#include "platform/dispatch/MainThread.h"

#include <QCoreApplication>
#include <QThread>

namespace veltrane {

bool isMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace veltrane
