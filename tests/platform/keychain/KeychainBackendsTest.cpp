#include "platform/keychain/impl/KeychainBackends.h"

#include "platform/keychain/impl/FileKeychain.h"
#include "platform/keychain/impl/SecretServiceKeychain.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(KeychainBackendsTest, SecretServiceFirstThenFilesInThePerUserDataFolder) {
    const KeychainBackends backends = makeSystemKeychainBackends();
    ASSERT_NE(dynamic_cast<SecretServiceKeychain*>(backends.dataProtection.get()), nullptr);
    const auto* files = dynamic_cast<FileKeychain*>(backends.legacy.get());
    ASSERT_NE(files, nullptr);
    const auto dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    EXPECT_EQ(files->folder(), std::filesystem::path(dataFolder) / "credentials");
}

TEST(KeychainStatusMessageTest, KnownCodesHaveMessagesUnknownCodesNone) {
    FileKeychain files("/nonexistent");
    SecretServiceKeychain secrets;
    for (const KeychainBackend* backend :
         {static_cast<const KeychainBackend*>(&files), static_cast<const KeychainBackend*>(&secrets)}) {
        EXPECT_EQ(backend->errorMessage(kKeychainItemNotFound),
                  "The specified item could not be found in the keychain.");
        EXPECT_EQ(backend->errorMessage(kKeychainMissingEntitlement), "The Secret Service is not available.");
        EXPECT_EQ(backend->errorMessage(kKeychainSuccess), "No error.");
        for (const auto status :
             {kKeychainDuplicateItem, kKeychainInteractionNotAllowed, kKeychainIOError, kKeychainParam}) {
            const auto message = backend->errorMessage(status);
            ASSERT_TRUE(message.has_value()) << status;
            EXPECT_FALSE(message->empty()) << status;
        }
        EXPECT_FALSE(backend->errorMessage(12345).has_value());
        EXPECT_FALSE(backend->errorMessage(-1).has_value());
    }
}

} // namespace
} // namespace veltrane
