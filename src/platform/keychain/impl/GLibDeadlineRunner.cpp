#include "platform/keychain/impl/GLibDeadlineRunner.h"

#include "platform/core/Log.h"

#include <memory>

namespace veltrane {

namespace {

// How long a cancelled operation gets to report its cancellation before it is abandoned.
constexpr std::chrono::milliseconds kCancelGraceMs{500};
// Upper bound on the events dispatched when the runner is destroyed.
constexpr int kMaxDrainRounds = 100;

// Shared between the waiting side and the operation's callback, which may outlive the wait.
struct PendingResult {
    GObjectPtr<GAsyncResult> result;
    bool finished = false;
};

void onOperationFinished(GObject* /*source*/, GAsyncResult* result, gpointer userData) {
    std::unique_ptr<std::shared_ptr<PendingResult>> pending(
        static_cast<std::shared_ptr<PendingResult>*>(userData));
    (*pending)->result.reset(G_ASYNC_RESULT(g_object_ref(result)));
    (*pending)->finished = true;
}

gboolean onTimerExpired(gpointer userData) {
    *static_cast<bool*>(userData) = true;
    return G_SOURCE_REMOVE;
}

} // namespace

GLibDeadlineRunner::GLibDeadlineRunner(std::chrono::milliseconds limitMs)
    : context_(g_main_context_new()), cancellable_(g_cancellable_new()),
      deadline_(std::chrono::steady_clock::now() + limitMs) {
    g_main_context_push_thread_default(context_);
}

GLibDeadlineRunner::~GLibDeadlineRunner() {
    g_cancellable_cancel(cancellable_);
    // Let already-queued completions and clean-ups run before the context goes away.
    for (int round = 0; round < kMaxDrainRounds && g_main_context_iteration(context_, FALSE); ++round) {
    }
    g_main_context_pop_thread_default(context_);
    g_object_unref(cancellable_);
    g_main_context_unref(context_);
}

bool GLibDeadlineRunner::iterateUntil(const bool& finished, std::chrono::steady_clock::time_point until) {
    if (finished) {
        return true;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) {
        return false;
    }
    const auto remainingMs = std::chrono::ceil<std::chrono::milliseconds>(until - now);
    bool expired = false;
    GSource* timer = g_timeout_source_new(static_cast<guint>(remainingMs.count()));
    g_source_set_callback(timer, onTimerExpired, &expired, nullptr);
    g_source_attach(timer, context_);
    while (!finished && !expired) {
        g_main_context_iteration(context_, TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);
    return finished;
}

GObjectPtr<GAsyncResult> GLibDeadlineRunner::await(const Start& start) {
    if (timedOut_) {
        return nullptr;
    }
    auto pending = std::make_shared<PendingResult>();
    start(cancellable_, onOperationFinished, new std::shared_ptr<PendingResult>(pending));
    if (iterateUntil(pending->finished, deadline_)) {
        return std::move(pending->result);
    }
    timedOut_ = true;
    g_cancellable_cancel(cancellable_);
    if (!iterateUntil(pending->finished, std::chrono::steady_clock::now() + kCancelGraceMs)) {
        // The callback keeps its own share of the pending state, so abandoning it is safe.
        logLine("🔑 a cancelled Secret Service call did not finish; abandoning it");
    }
    return nullptr;
}

} // namespace veltrane
