#include "server/system/SystemCredentialStore.h"

#include "platform/keychain/impl/FileKeychain.h"
#include "platform/keychain/impl/KeychainBackends.h"

namespace veltrane {

CredentialStore makeSystemCredentialStore() {
    KeychainBackends backends = makeSystemKeychainBackends();
    std::string location = CredentialStore::kDefaultLegacyLocation;
    if (const auto* file = dynamic_cast<const FileKeychain*>(backends.legacy.get())) {
        location = file->folder().string();
    }
    return CredentialStore(backends.dataProtection, backends.legacy, location);
}

} // namespace veltrane
