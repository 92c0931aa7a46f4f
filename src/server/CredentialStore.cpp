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
        const KeychainResult result =
            slot.backend ? slot.backend->lookUp(kService, account) : KeychainResult::unavailable();
        if (result.status == KeychainResult::Status::unavailable ||
            result.status == KeychainResult::Status::notFound) {
            continue;
        }
        if (result.status == KeychainResult::Status::found && result.data) {
            // Bytes that are not UTF-8 are no token; the legacy variant is not consulted then.
            return utf8Text(QByteArrayView(result.data->data(), static_cast<qsizetype>(result.data->size())));
        }
        logWarning(lcServer(), "🔑 keychain load(" + account + ") failed: " + result.describe());
    }
    return std::nullopt;
}

KeychainResult CredentialStore::save(CredentialItem item, const std::string& value) const {
    const std::string account(accountName(item));
    KeychainResult status = KeychainResult::unavailable();
    for (const Slot& slot : slots_) {
        const bool protectedVariant = slot.variant == Variant::dataProtection;
        if (slot.backend) {
            (void)slot.backend->remove(kService, account);
            status = slot.backend->store(kService, account, value);
        } else {
            status = KeychainResult::unavailable();
        }
        if (status.status == KeychainResult::Status::found) {
            if (!protectedVariant) {
                logWarning(
                    lcServer(),
                    "⚠️ No Secret Service available — the session token is stored unencrypted in " +
                        legacyLocation_);
            }
            return status;
        }
        if (status.status != KeychainResult::Status::unavailable) {
            break;
        }
        logInfo(lcServer(), "🔑 data-protection keychain unavailable (" + status.describe() +
                                ") — using the legacy keychain");
    }
    logWarning(lcServer(), "🔑 keychain save(" + account + ") failed: " + status.describe());
    return status;
}

void CredentialStore::remove(CredentialItem item) const {
    const std::string account(accountName(item));
    for (const Slot& slot : slots_) {
        if (slot.backend) {
            (void)slot.backend->remove(kService, account);
        }
    }
}

} // namespace veltrane
