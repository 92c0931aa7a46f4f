#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace veltrane {

// Status codes a keychain backend answers with.
enum KeychainStatus : std::int32_t {
    kKeychainSuccess = 0,
    kKeychainItemNotFound = -25300,
    kKeychainDuplicateItem = -25299,
    kKeychainMissingEntitlement = -34018, // the store is not reachable (no Secret Service)
    kKeychainInteractionNotAllowed = -25308,
    kKeychainIOError = -36,
    kKeychainParam = -50,
};

// One place where generic-password items (service + account -> bytes) can be kept.
// Two implementations: the Secret Service (libsecret) and a file store in the per-user data
// folder. Calls are synchronous but bounded in time: a store that does not answer within a
// few seconds counts as unreachable (kKeychainMissingEntitlement).
class KeychainBackend {
public:
    struct LookupResult {
        std::int32_t status = kKeychainItemNotFound;
        std::optional<std::string> data; // raw bytes, present with status 0
    };

    virtual ~KeychainBackend() = default;

    [[nodiscard]] virtual LookupResult copyMatching(const std::string& service,
                                                    const std::string& account) = 0;
    // `accessibleAfterFirstUnlockThisDeviceOnly` asks for the most protected storage the backend
    // offers; backends without such a notion ignore it.
    [[nodiscard]] virtual std::int32_t add(const std::string& service, const std::string& account,
                                           const std::string& data,
                                           bool accessibleAfterFirstUnlockThisDeviceOnly) = 0;
    [[nodiscard]] virtual std::int32_t deleteItem(const std::string& service, const std::string& account) = 0;
    // The backend's message for a status code, absent when it has none.
    [[nodiscard]] virtual std::optional<std::string> errorMessage(std::int32_t status) const = 0;
};

} // namespace veltrane
