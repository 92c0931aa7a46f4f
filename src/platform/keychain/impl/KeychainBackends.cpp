#include "platform/keychain/impl/KeychainBackends.h"

#include "platform/keychain/impl/FileKeychain.h"
#include "platform/keychain/impl/SecretServiceKeychain.h"

#include <QStandardPaths>
#include <QString>

namespace veltrane {

KeychainBackends makeSystemKeychainBackends() {
    // An empty location (no home folder) gives a relative path, which the file store refuses.
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    std::filesystem::path credentialsFolder = std::filesystem::path(dataFolder.toStdString());
    if (!dataFolder.isEmpty()) {
        credentialsFolder /= "credentials";
    }
    return KeychainBackends{
        .dataProtection = std::make_shared<SecretServiceKeychain>(),
        .legacy = std::make_shared<FileKeychain>(std::move(credentialsFolder)),
    };
}

} // namespace veltrane
