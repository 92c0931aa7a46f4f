#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <gio/gio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Owning pointers for GLib objects. Include only from sources that include no Qt header.
// GLib types: include only from sources that include no Qt header.

namespace veltrane {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T> using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFreeDeleter {
    void operator()(gpointer memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<gchar, GFreeDeleter>;

struct GHashTableUnref {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using GHashTablePtr = std::unique_ptr<GHashTable, GHashTableUnref>;

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

// Generic-password items in the Secret Service (GNOME Keyring, KWallet, KeePassXC, ...) through
// libsecret, kept in the default collection and found by their "service" and "account"
// attributes. Every call is bounded by a time limit: a Secret Service that is absent, locked or
// does not answer in time counts as unavailable. A locked
// collection is never unlocked and no prompt is ever shown.
class SecretServiceKeychain final : public KeychainBackend {
public:
    struct Options {
        // Upper bound on the time one call may take, from start to answer.
        std::chrono::milliseconds timeLimitMs{3000};
        // Items are labelled "<labelPrefix>: <account>".
        std::string labelPrefix = "VeltraneRecorder";
    };

    SecretServiceKeychain();
    explicit SecretServiceKeychain(Options options);

    [[nodiscard]] KeychainResult lookUp(const std::string& service, const std::string& account) override;
    [[nodiscard]] KeychainResult store(const std::string& service, const std::string& account,
                                       const std::string& data) override;
    [[nodiscard]] KeychainResult remove(const std::string& service, const std::string& account) override;

private:
    Options options_;
};

} // namespace veltrane
