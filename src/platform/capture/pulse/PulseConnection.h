#pragma once

#include "platform/core/PlatformError.h"

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;

namespace veltrane {

// The error domain of everything the sound-server client reports.
inline constexpr const char* kPulseErrorDomain = "PulseAudio";

// The kind of failure a client library error number stands for.
[[nodiscard]] PlatformError::Kind pulseErrorKind(int code);

// An error of the sound-server client: `code` is the client library's error number, which
// also gives the error's kind.
[[nodiscard]] PlatformError pulseError(int code, std::string description);

// An error whose description is `prefix` followed by the library's text for `code`,
// e.g. "Could not connect to the sound server: Connection refused".
[[nodiscard]] PlatformError pulseErrorWithText(int code, const std::string& prefix);

// One connection to the sound server with its own event thread (a threaded main loop).
// Callbacks of the connection and of everything made on it run on that thread. Other threads
// touch the connection only while holding its lock (Lock). Every wait has a time limit.
//
// Destroy it from any thread except its event thread, without holding its lock, after the
// streams made on it have been released.
class PulseConnection {
public:
    // Holds the connection's lock for its scope.
    class Lock {
    public:
        explicit Lock(PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        PulseConnection& connection_;
    };

    // Connects (the server named by PULSE_SERVER or the default one, never spawning one);
    // fails when the server does not answer within `timeout`.
    [[nodiscard]] static std::expected<std::unique_ptr<PulseConnection>, PlatformError>
    open(const std::string& clientName, std::chrono::milliseconds timeout);

    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    [[nodiscard]] pa_context* context() const { return context_; }
    [[nodiscard]] pa_threaded_mainloop* mainloop() const { return mainloop_; }

    // With the lock held, from a thread other than the event thread: waits until `done`
    // holds, the connection fails, or `timeout` passes. Returns whether `done` holds.
    // Callbacks that change what `done` looks at must call signal().
    [[nodiscard]] bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

    // With the lock held: waits for `operation` (taking ownership); cancels it when it does
    // not finish in time, so its callback never runs later. Returns whether it finished.
    [[nodiscard]] bool waitFor(pa_operation* operation, std::chrono::milliseconds timeout);

    // Wakes the threads waiting in waitUntil(); any thread, lock held or on the event thread.
    void signal();

    [[nodiscard]] bool isReady() const;
    // The client library's error number for the last failure.
    [[nodiscard]] int lastErrorCode() const;

    // Runs on the event thread when the established connection is lost. With the lock held.
    void setLostHandler(std::function<void(const PlatformError&)> handler);
    // Forgets the lost handler and the event subscription's callback, so that neither runs
    // again for an owner that is letting the connection go. With the lock held.
    void detachHandlers();

private:
    PulseConnection() = default;

    static void onStateChanged(pa_context* context, void* userdata);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    bool wasReady_ = false;
    std::function<void(const PlatformError&)> lostHandler_;
};

} // namespace veltrane
