#pragma once

#include "platform/keychain/KeychainBackend.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// The items the credential store knows.
enum class CredentialItem {
    accessToken,  // the session token obtained at sign-in
    refreshToken, // reserved: never saved, only removed
};

// The keychain account name of an item.
[[nodiscard]] constexpr std::string_view accountName(CredentialItem item) {
    switch (item) {
    case CredentialItem::accessToken:
        return "accessToken";
    case CredentialItem::refreshToken:
        return "refreshToken";
    }
    return "accessToken";
}

// Keeps the session token in the system keychain. Two backends are tried in a fixed order: the
// protected one (Secret Service) first, the legacy one (a file store) when the first is
// unavailable. Nothing is kept in memory: every call asks the backends.
class CredentialStore {
public:
    static constexpr const char* kService = "co.brimfold.VeltraneRecorder";
    static constexpr const char* kDefaultLegacyLocation = "the local credential file";

    // A missing backend counts as unreachable. `legacyLocation` names where the legacy backend keeps
    // its items, for the warning logged when the token ends up there.
    CredentialStore(std::shared_ptr<KeychainBackend> dataProtection, std::shared_ptr<KeychainBackend> legacy,
                    std::string legacyLocation = kDefaultLegacyLocation);

    [[nodiscard]] std::optional<std::string> load(CredentialItem item) const;
    // The result of the last attempt; `found` means stored.
    [[nodiscard]] KeychainResult save(CredentialItem item, const std::string& value) const;
    void remove(CredentialItem item) const;

private:
    enum class Variant { dataProtection, legacy };
    struct Slot {
        Variant variant = Variant::dataProtection;
        std::shared_ptr<KeychainBackend> backend;
    };

    std::array<Slot, 2> slots_;
    std::string legacyLocation_;
};

} // namespace veltrane
