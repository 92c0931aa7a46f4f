#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <chrono>
#include <optional>
#include <string>

namespace veltrane {

// Generic-password items in the Secret Service (GNOME Keyring, KWallet, KeePassXC, ...) through
// libsecret, kept in the default collection and found by their "service" and "account"
// attributes. Every call is bounded by a time limit: a Secret Service that is absent, locked or
// does not answer in time counts as unreachable (kKeychainMissingEntitlement). A locked
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

    [[nodiscard]] LookupResult copyMatching(const std::string& service, const std::string& account) override;
    // Replaces an item with the same service and account.
    [[nodiscard]] std::int32_t add(const std::string& service, const std::string& account,
                                   const std::string& data,
                                   bool accessibleAfterFirstUnlockThisDeviceOnly) override;
    [[nodiscard]] std::int32_t deleteItem(const std::string& service, const std::string& account) override;
    [[nodiscard]] std::optional<std::string> errorMessage(std::int32_t status) const override;

private:
    Options options_;
};

} // namespace veltrane
