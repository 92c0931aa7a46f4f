#pragma once

// GLib types: include only from sources that include no Qt header.
#include "platform/keychain/impl/GLibPointers.h"

#include <chrono>
#include <functional>

namespace veltrane {

// Runs GLib asynchronous operations one after another on a private main context, all under one
// overall time limit. While it exists the private context is the calling thread's default
// context, so every callback of an operation started through it is dispatched by `await`.
// Create it, use it and destroy it on one thread; GLib objects made through it should be
// released before it is destroyed.
class GLibDeadlineRunner {
public:
    // `start(cancellable, callback, userData)` starts one asynchronous operation.
    using Start = std::function<void(GCancellable*, GAsyncReadyCallback, gpointer)>;

    explicit GLibDeadlineRunner(std::chrono::milliseconds limitMs);
    ~GLibDeadlineRunner();
    GLibDeadlineRunner(const GLibDeadlineRunner&) = delete;
    GLibDeadlineRunner& operator=(const GLibDeadlineRunner&) = delete;

    // Starts the operation and waits for its result until the deadline. Returns the result to
    // pass to the operation's finish function, or null when the deadline passed first (the
    // operation is then cancelled, and so is everything started later through this runner).
    [[nodiscard]] GObjectPtr<GAsyncResult> await(const Start& start);

    // True once an operation ran out of time.
    [[nodiscard]] bool timedOut() const { return timedOut_; }

private:
    // Dispatches events until `finished` is set or `until` has passed; true when finished.
    bool iterateUntil(const bool& finished, std::chrono::steady_clock::time_point until);

    GMainContext* context_ = nullptr;
    GCancellable* cancellable_ = nullptr;
    std::chrono::steady_clock::time_point deadline_;
    bool timedOut_ = false;
};

} // namespace veltrane
