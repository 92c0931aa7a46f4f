#include "platform/keychain/impl/SecretServiceKeychain.h"

#include "platform/keychain/PrivateSecretService.h"

// GLib clashes with Qt's `signals` keyword: this file must include no Qt header.
#include <gio/gio.h>

#include <chrono>
#include <string>

namespace veltrane {
namespace {

GDBusMessage* dropIncomingMethodCalls(GDBusConnection* /*connection*/, GDBusMessage* message,
                                      gboolean incoming, gpointer /*userData*/) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
        g_object_unref(message);
        return nullptr;
    }
    return message;
}

// A Secret Service that owns its bus name but never answers a call, like a hung keyring daemon.
class StalledProvider {
public:
    explicit StalledProvider(const char* busName) {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        EXPECT_NE(address, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        connection_ = g_dbus_connection_new_for_address_sync(
            address,
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        g_free(address);
        EXPECT_NE(connection_, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        if (connection_ == nullptr) {
            return;
        }
        g_dbus_connection_add_filter(connection_, dropIncomingMethodCalls, nullptr, nullptr);
        constexpr guint32 kDoNotQueue = 4;
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "RequestName", g_variant_new("(su)", busName, kDoNotQueue), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
        EXPECT_NE(reply, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        if (reply != nullptr) {
            guint32 result = 0;
            g_variant_get(reply, "(u)", &result);
            owned_ = result == 1; // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
            g_variant_unref(reply);
        }
    }
    ~StalledProvider() {
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
    }
    StalledProvider(const StalledProvider&) = delete;
    StalledProvider& operator=(const StalledProvider&) = delete;

    [[nodiscard]] bool owned() const { return owned_; }

private:
    GDBusConnection* connection_ = nullptr;
    bool owned_ = false;
};

// libsecret reads the Secret Service's bus name from SECRET_SERVICE_BUS_NAME once per process, so
// each case runs in a process of its own (see CMakeLists.txt) with the name set from outside.
class UnreachableSecretServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::runsWithPrivateSecretService()) << test::kRunThroughScript;
        const char* name = std::getenv("SECRET_SERVICE_BUS_NAME");
        ASSERT_NE(name, nullptr)
            << "run through ctest, which points SECRET_SERVICE_BUS_NAME away from the keyring";
        busName_ = name;
        ASSERT_NE(busName_, "org.freedesktop.secrets");
    }

    std::string busName_;
};

TEST_F(UnreachableSecretServiceTest, BusWithoutProviderIsUnavailable) {
    SecretServiceKeychain keychain;
    test::expectEveryCallUnavailable(keychain);
}

// Without a time limit each call would wait for D-Bus's own 25 s timeout (libsecret's
// synchronous calls for longer); the test's run-time limit in CMake catches that.
TEST_F(UnreachableSecretServiceTest, ProviderThatNeverAnswersIsUnavailable) {
    StalledProvider provider(busName_.c_str());
    ASSERT_TRUE(provider.owned());
    SecretServiceKeychain keychain({.timeLimitMs = std::chrono::milliseconds(200)});
    test::expectEveryCallUnavailable(keychain);
}

} // namespace
} // namespace veltrane
