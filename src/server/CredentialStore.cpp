#include "server/CredentialStore.h"

#include "platform/core/Log.h"
#include "server/Records.h"

namespace veltrane {

CredentialStore::CredentialStore(std::shared_ptr<KeychainBackend> dataProtection,
                                 std::shared_ptr<KeychainBackend> legacy, std::string legacyLocation)
    : slots_{Slot{Variant::dataProtection, std::move(dataProtection)},
             Slot{Variant::legacy, std::move(legacy)}},
      legacyLocation_(std::move(legacyLocation)) {}

std::optional<std::string> CredentialStore::load(CredentialItem item) const {
    const std::string account(accountName(item));
    for (const Slot& slot : slots_) {
        const KeychainBackend::LookupResult result =
            slot.backend ? slot.backend->copyMatching(kService, account)
                         : KeychainBackend::LookupResult{kKeychainMissingEntitlement, std::nullopt};
        if (result.status == kKeychainMissingEntitlement || result.status == kKeychainItemNotFound) {
            continue;
        }
        if (result.status == kKeychainSuccess && result.data) {
            // Bytes that are not UTF-8 are no token; the legacy variant is not consulted then.
            return utf8Text(QByteArrayView(result.data->data(), static_cast<qsizetype>(result.data->size())));
        }
        logWarning(lcServer(), "🔑 keychain load(" + account + ") failed: " + statusText(result.status));
    }
    return std::nullopt;
}

std::int32_t CredentialStore::save(CredentialItem item, const std::string& value) const {
    const std::string account(accountName(item));
    std::int32_t status = kKeychainMissingEntitlement;
    for (const Slot& slot : slots_) {
        const bool protectedVariant = slot.variant == Variant::dataProtection;
        if (slot.backend) {
            (void)slot.backend->deleteItem(kService, account);
            status = slot.backend->add(kService, account, value, protectedVariant);
        } else {
            status = kKeychainMissingEntitlement;
        }
        if (status == kKeychainSuccess) {
            if (!protectedVariant) {
                logWarning(
                    lcServer(),
                    "⚠️ No Secret Service available — the session token is stored unencrypted in " +
                        legacyLocation_);
            }
            return kKeychainSuccess;
        }
        if (status != kKeychainMissingEntitlement) {
            break;
        }
        logInfo(lcServer(), "🔑 data-protection keychain unavailable (" +
                                statusText(kKeychainMissingEntitlement) + ") — using the legacy keychain");
    }
    logWarning(lcServer(), "🔑 keychain save(" + account + ") failed: " + statusText(status));
    return status;
}

void CredentialStore::remove(CredentialItem item) const {
    const std::string account(accountName(item));
    for (const Slot& slot : slots_) {
        if (slot.backend) {
            (void)slot.backend->deleteItem(kService, account);
        }
    }
}

std::string CredentialStore::statusText(std::int32_t status) const {
    std::optional<std::string> message;
    for (const Slot& slot : slots_) {
        if (!message && slot.backend) {
            message = slot.backend->errorMessage(status);
        }
    }
    return std::to_string(status) + " (" + message.value_or("unknown") + ")";
}

} // namespace veltrane
