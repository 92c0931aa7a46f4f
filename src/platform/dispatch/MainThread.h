#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <utility>

namespace veltrane {

// Runs `fn` later on the main thread (the thread of the application object), from any
// thread. The application object outlives every post made while the event loop runs.
template <typename Fn> void postToMain(Fn&& fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<Fn>(fn), Qt::QueuedConnection);
}

// Posts `fn(target)` to the main thread; nothing runs when the target is gone by then.
// Take the QPointer on the main thread (for example when a callback is installed) and copy
// it into callbacks that fire on other threads: copying is safe anywhere, dereferencing only
// happens on the main thread.
template <typename T, typename Fn> void postGuarded(const QPointer<T>& target, Fn&& fn) {
    postToMain([target, fn = std::forward<Fn>(fn)]() mutable {
        if (T* object = target.data()) {
            fn(object);
        }
    });
}

// True on the thread that runs the application's event loop.
[[nodiscard]] bool isMainThread();

} // namespace veltrane
