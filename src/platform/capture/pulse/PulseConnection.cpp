#include "platform/capture/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

namespace veltrane {

PlatformError::Kind pulseErrorKind(int code) {
    switch (code) {
    case PA_ERR_ACCESS:
        return PlatformError::Kind::permissionDenied;
    case PA_ERR_CONNECTIONREFUSED:
    case PA_ERR_CONNECTIONTERMINATED:
    case PA_ERR_KILLED:
    case PA_ERR_INVALIDSERVER:
        return PlatformError::Kind::serverUnavailable;
    case PA_ERR_NOENTITY:
        return PlatformError::Kind::deviceGone;
    default:
        return PlatformError::Kind::other;
    }
}

PlatformError pulseError(int code, std::string description) {
    PlatformError error;
    error.domain = kPulseErrorDomain;
    error.code = code;
    error.localizedDescription = std::move(description);
    error.kind = pulseErrorKind(code);
    return error;
}

PlatformError pulseErrorWithText(int code, const std::string& prefix) {
    if (code == PA_ERR_ACCESS) {
        return pulseError(code, prefix + "the sound server refused permission to this program");
    }
    const char* text = pa_strerror(code);
    return pulseError(code, prefix + (text ? text : "Unknown error"));
}

namespace {

constexpr const char* kConnectPrefix = "Could not connect to the sound server: ";

void wakeAtDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(userdata), 0);
}

} // namespace

PulseConnection::Lock::Lock(PulseConnection& connection) : connection_(connection) {
    pa_threaded_mainloop_lock(connection_.mainloop_);
}

PulseConnection::Lock::~Lock() {
    pa_threaded_mainloop_unlock(connection_.mainloop_);
}

std::expected<std::unique_ptr<PulseConnection>, PlatformError>
PulseConnection::open(const std::string& clientName, std::chrono::milliseconds timeout) {
    std::unique_ptr<PulseConnection> connection(new PulseConnection());
    connection->mainloop_ = pa_threaded_mainloop_new();
    if (!connection->mainloop_) {
        return std::unexpected(pulseError(PA_ERR_INTERNAL, "Could not create the sound server event loop"));
    }
    pa_threaded_mainloop_set_name(connection->mainloop_, "pulse.events");

    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, clientName.c_str());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "co.brimfold.VeltraneRecorder");
    // Volume mixers show the program under its name and icon.
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "co.brimfold.VeltraneRecorder");
    connection->context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(connection->mainloop_),
                                                        clientName.c_str(), properties);
    pa_proplist_free(properties);
    if (!connection->context_) {
        return std::unexpected(pulseError(PA_ERR_INTERNAL, "Could not create the sound server client"));
    }
    pa_context_set_state_callback(connection->context_, &PulseConnection::onStateChanged, connection.get());

    if (pa_threaded_mainloop_start(connection->mainloop_) < 0) {
        return std::unexpected(pulseError(PA_ERR_INTERNAL, "Could not start the sound server event loop"));
    }

    Lock lock(*connection);
    if (pa_context_connect(connection->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return std::unexpected(pulseErrorWithText(pa_context_errno(connection->context_), kConnectPrefix));
    }
    pa_context* context = connection->context_;
    const bool settled = connection->waitUntil(
        [context] {
            const pa_context_state_t state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        },
        timeout);
    if (!settled) {
        PlatformError error = pulseError(PA_ERR_TIMEOUT, std::string(kConnectPrefix) + "Timeout");
        error.kind = PlatformError::Kind::serverUnavailable; // no answer is as good as no server
        return std::unexpected(std::move(error));
    }
    if (pa_context_get_state(context) != PA_CONTEXT_READY) {
        const int code = pa_context_errno(context);
        return std::unexpected(
            pulseErrorWithText(code != 0 ? code : PA_ERR_CONNECTIONREFUSED, kConnectPrefix));
    }
    connection->wasReady_ = true;
    return connection;
}

PulseConnection::~PulseConnection() {
    if (mainloop_) {
        // Stopping joins the event thread: no callback runs after this.
        pa_threaded_mainloop_stop(mainloop_);
    }
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (mainloop_) {
        pa_threaded_mainloop_free(mainloop_);
    }
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (done()) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    pa_time_event* alarm = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * PA_USEC_PER_MSEC,
        &wakeAtDeadline, mainloop_);
    bool result = false;
    for (;;) {
        if (done()) {
            result = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        if (context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            break;
        }
        pa_threaded_mainloop_wait(mainloop_);
    }
    if (alarm) {
        api->time_free(alarm);
    }
    return result;
}

bool PulseConnection::waitFor(pa_operation* operation, std::chrono::milliseconds timeout) {
    if (!operation) {
        return false;
    }
    // Wake the waiter when the operation ends, also for operations without a result callback.
    pa_operation_set_state_callback(
        operation,
        [](pa_operation*, void* mainloop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
        },
        mainloop_);
    const bool finished =
        waitUntil([operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, timeout);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    if (!finished || pa_operation_get_state(operation) != PA_OPERATION_DONE) {
        pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return false;
    }
    pa_operation_unref(operation);
    return true;
}

void PulseConnection::signal() {
    pa_threaded_mainloop_signal(mainloop_, 0);
}

bool PulseConnection::isReady() const {
    return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

int PulseConnection::lastErrorCode() const {
    return context_ ? pa_context_errno(context_) : PA_ERR_BADSTATE;
}

void PulseConnection::setLostHandler(std::function<void(const PlatformError&)> handler) {
    lostHandler_ = std::move(handler);
}

void PulseConnection::detachHandlers() {
    lostHandler_ = nullptr;
    if (context_) {
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    }
}

void PulseConnection::onStateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    const pa_context_state_t state = pa_context_get_state(context);
    if (self->wasReady_ && !PA_CONTEXT_IS_GOOD(state) && self->lostHandler_) {
        const int code = pa_context_errno(context);
        auto handler = std::move(self->lostHandler_);
        self->lostHandler_ = nullptr;
        handler(pulseErrorWithText(code != 0 ? code : PA_ERR_CONNECTIONTERMINATED, ""));
    }
    self->signal();
}

} // namespace veltrane
