#include "platform/keychain/impl/SecretServiceKeychain.h"

#include "platform/core/Log.h"
#include "platform/keychain/KeychainBackend.h"

#include <libsecret/secret.h>

#include <memory>
#include <string>
#include <utility>

// libsecret clashes with Qt's `signals` keyword: this file must include no Qt header.

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
        logWarning(lcKeychain(), "🔑 a cancelled Secret Service call did not finish; abandoning it");
    }
    return nullptr;
}

namespace {

// An item named by text the Secret Service cannot take as an attribute.
KeychainResult invalidName() {
    return KeychainResult::failed("One or more parameters passed to the keychain were not valid.");
}

const SecretSchema* genericPasswordSchema() {
    static const SecretSchema schema = [] {
        SecretSchema built{};
        built.name = "co.brimfold.VeltraneRecorder.GenericPassword";
        built.flags = SECRET_SCHEMA_NONE;
        built.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        built.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return built;
    }();
    return &schema;
}

// Attribute values travel as D-Bus strings: valid UTF-8 without NUL characters.
bool isValidAttribute(const std::string& value) {
    return g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr);
}

GHashTablePtr itemAttributes(const std::string& service, const std::string& account) {
    GHashTablePtr attributes(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    g_hash_table_insert(attributes.get(), g_strdup("service"), g_strdup(service.c_str()));
    g_hash_table_insert(attributes.get(), g_strdup("account"), g_strdup(account.c_str()));
    return attributes;
}

// Whether an error from a Secret Service that was reached means it cannot be used.
KeychainResult::Status statusForError(const GError& error) {
    if (error.domain == SECRET_ERROR) {
        switch (error.code) {
        case SECRET_ERROR_IS_LOCKED:
            return KeychainResult::Status::unavailable;
        case SECRET_ERROR_NO_SUCH_OBJECT:
            return KeychainResult::Status::notFound;
        default:
            return KeychainResult::Status::failed;
        }
    }
    if (error.domain == G_DBUS_ERROR) {
        switch (error.code) {
        case G_DBUS_ERROR_SERVICE_UNKNOWN:
        case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
        case G_DBUS_ERROR_NO_REPLY:
        case G_DBUS_ERROR_TIMEOUT:
        case G_DBUS_ERROR_TIMED_OUT:
        case G_DBUS_ERROR_DISCONNECTED:
        case G_DBUS_ERROR_NO_SERVER:
        case G_DBUS_ERROR_ACCESS_DENIED:
        case G_DBUS_ERROR_UNKNOWN_METHOD:
        case G_DBUS_ERROR_UNKNOWN_OBJECT:
        case G_DBUS_ERROR_UNKNOWN_INTERFACE:
            return KeychainResult::Status::unavailable;
        default:
            return KeychainResult::Status::failed;
        }
    }
    if (error.domain == G_IO_ERROR) {
        switch (error.code) {
        case G_IO_ERROR_CANCELLED:
        case G_IO_ERROR_TIMED_OUT:
        case G_IO_ERROR_CLOSED:
        case G_IO_ERROR_BROKEN_PIPE:
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_NOT_CONNECTED:
            return KeychainResult::Status::unavailable;
        default:
            return KeychainResult::Status::failed;
        }
    }
    return KeychainResult::Status::failed;
}

KeychainResult reportError(const char* operation, const GError& error) {
    const KeychainResult::Status status = statusForError(error);
    if (status == KeychainResult::Status::failed) {
        logWarning(lcKeychain(), std::string("🔑 Secret Service ") + operation + " failed: " + error.message);
        return KeychainResult::failed(std::string("The Secret Service ") + operation +
                                      " failed: " + error.message);
    }
    return {.status = status, .data = std::nullopt, .failure = {}};
}

KeychainResult reportTimeout(const char* operation, std::chrono::milliseconds limitMs) {
    logWarning(lcKeychain(), std::string("🔑 Secret Service ") + operation + " got no answer within " +
                                 std::to_string(limitMs.count()) + " ms");
    return KeychainResult::unavailable();
}

enum class CollectionState { unlocked, locked, absent };

// One call's conversation with the Secret Service: everything it does shares one deadline.
class Conversation {
public:
    Conversation(const SecretServiceKeychain::Options& options, const char* operation)
        : runner_(options.timeLimitMs), options_(options), operation_(operation) {}

    // Connects and opens a session; false (with `status` set) when the service is unreachable.
    bool open() {
        auto result =
            runner_.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
                secret_service_open(SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_OPEN_SESSION, cancellable,
                                    callback, data);
            });
        if (!result) {
            status = reportTimeout(operation_, options_.timeLimitMs);
            return false;
        }
        GError* error = nullptr;
        service_.reset(secret_service_open_finish(result.get(), &error));
        if (!service_) {
            // Whatever stops us reaching the service (no bus, no provider) means "unavailable".
            GErrorPtr owned(error);
            status = KeychainResult::unavailable();
            return false;
        }
        return true;
    }

    // The default collection, where items are stored; false (with `status` set) on failure.
    bool readDefaultCollection() {
        auto result =
            runner_.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
                secret_collection_for_alias(service_.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE,
                                            cancellable, callback, data);
            });
        if (!result) {
            status = reportTimeout(operation_, options_.timeLimitMs);
            return false;
        }
        GError* error = nullptr;
        collection_.reset(secret_collection_for_alias_finish(result.get(), &error));
        if (error != nullptr) {
            GErrorPtr owned(error);
            status = reportError(operation_, *owned);
            return false;
        }
        return true;
    }

    [[nodiscard]] CollectionState collectionState() const {
        if (!collection_) {
            return CollectionState::absent;
        }
        return secret_collection_get_locked(collection_.get()) ? CollectionState::locked
                                                               : CollectionState::unlocked;
    }

    [[nodiscard]] const char* collectionPath() const {
        return g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection_.get()));
    }

    [[nodiscard]] SecretService* service() const { return service_.get(); }

    // Waits for an operation started by `start`; null (with `status` set) when time ran out.
    GObjectPtr<GAsyncResult> await(const GLibDeadlineRunner::Start& start) {
        auto result = runner_.await(start);
        if (!result) {
            status = reportTimeout(operation_, options_.timeLimitMs);
        }
        return result;
    }

    [[nodiscard]] KeychainResult fail(const GError& error) { return status = reportError(operation_, error); }

    KeychainResult status = KeychainResult::found();

private:
    GLibDeadlineRunner runner_; // first member: the GLib objects below are released before it
    GObjectPtr<SecretService> service_;
    GObjectPtr<SecretCollection> collection_;
    const SecretServiceKeychain::Options& options_;
    const char* operation_;
};

} // namespace

SecretServiceKeychain::SecretServiceKeychain() : SecretServiceKeychain(Options{}) {}

SecretServiceKeychain::SecretServiceKeychain(Options options) : options_(std::move(options)) {}

KeychainResult SecretServiceKeychain::lookUp(const std::string& service, const std::string& account) {
    if (!isValidAttribute(service) || !isValidAttribute(account)) {
        return invalidName();
    }
    Conversation conversation(options_, "lookup");
    if (!conversation.open() || !conversation.readDefaultCollection()) {
        return conversation.status;
    }
    // A locked collection answers searches with "nothing" although it may hold the item: the
    // store is then unusable rather than empty.
    if (conversation.collectionState() == CollectionState::locked) {
        return KeychainResult::unavailable();
    }
    const GHashTablePtr attributes = itemAttributes(service, account);
    auto result = conversation.await([&](GCancellable* cancellable, GAsyncReadyCallback callback,
                                         gpointer data) {
        secret_service_search(conversation.service(), genericPasswordSchema(), attributes.get(),
                              static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS),
                              cancellable, callback, data);
    });
    if (!result) {
        return conversation.status;
    }
    GError* error = nullptr;
    GList* items = secret_service_search_finish(conversation.service(), result.get(), &error);
    if (error != nullptr) {
        GErrorPtr owned(error);
        return conversation.fail(*owned);
    }
    bool sawLocked = false;
    bool sawUnreadable = false;
    guint64 newestModified = 0;
    std::optional<std::string> newest;
    for (GList* entry = items; entry != nullptr; entry = entry->next) {
        auto* item = static_cast<SecretItem*>(entry->data);
        if (secret_item_get_locked(item)) {
            sawLocked = true;
            continue;
        }
        SecretValue* value = secret_item_get_secret(item);
        if (value == nullptr) {
            sawUnreadable = true;
            continue;
        }
        const guint64 modified = secret_item_get_modified(item);
        if (!newest || modified > newestModified) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            newest.emplace(bytes, length);
            newestModified = modified;
        }
        secret_value_unref(value);
    }
    g_list_free_full(items, g_object_unref);
    if (newest) {
        return KeychainResult::found(std::move(newest));
    }
    if (sawLocked) {
        return KeychainResult::unavailable();
    }
    if (sawUnreadable) {
        logWarning(lcKeychain(), "🔑 Secret Service lookup found an item whose secret could not be read");
        return KeychainResult::failed("The Secret Service holds the item but its secret could not be read.");
    }
    return KeychainResult::notFound();
}

KeychainResult SecretServiceKeychain::store(const std::string& service, const std::string& account,
                                            const std::string& data) {
    // The Secret Service keeps items encrypted per user and unreadable while locked.
    if (!isValidAttribute(service) || !isValidAttribute(account)) {
        return invalidName();
    }
    Conversation conversation(options_, "store");
    if (!conversation.open() || !conversation.readDefaultCollection()) {
        return conversation.status;
    }
    // Without an unlocked default collection storing would need a prompt (to unlock or to
    // create one), which nobody may be there to answer.
    if (conversation.collectionState() != CollectionState::unlocked) {
        return KeychainResult::unavailable();
    }
    const GHashTablePtr attributes = itemAttributes(service, account);
    const std::string label = options_.labelPrefix + ": " + account;
    const bool isText = g_utf8_validate(data.data(), static_cast<gssize>(data.size()), nullptr);
    SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()),
                                          isText ? "text/plain" : "application/octet-stream");
    auto result =
        conversation.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer userData) {
            secret_service_store(conversation.service(), genericPasswordSchema(), attributes.get(),
                                 conversation.collectionPath(), label.c_str(), value, cancellable, callback,
                                 userData);
        });
    secret_value_unref(value);
    if (!result) {
        return conversation.status;
    }
    GError* error = nullptr;
    if (!secret_service_store_finish(conversation.service(), result.get(), &error)) {
        GErrorPtr owned(error);
        return owned ? conversation.fail(*owned) : KeychainResult::failed({});
    }
    return KeychainResult::found();
}

KeychainResult SecretServiceKeychain::remove(const std::string& service, const std::string& account) {
    if (!isValidAttribute(service) || !isValidAttribute(account)) {
        return invalidName();
    }
    Conversation conversation(options_, "delete");
    if (!conversation.open() || !conversation.readDefaultCollection()) {
        return conversation.status;
    }
    if (conversation.collectionState() == CollectionState::locked) {
        return KeychainResult::unavailable();
    }
    const GHashTablePtr attributes = itemAttributes(service, account);
    auto result =
        conversation.await([&](GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
            secret_service_clear(conversation.service(), genericPasswordSchema(), attributes.get(),
                                 cancellable, callback, data);
        });
    if (!result) {
        return conversation.status;
    }
    GError* error = nullptr;
    if (secret_service_clear_finish(conversation.service(), result.get(), &error)) {
        return KeychainResult::found();
    }
    if (error == nullptr) {
        return KeychainResult::notFound();
    }
    GErrorPtr owned(error);
    return conversation.fail(*owned);
}

} // namespace veltrane
