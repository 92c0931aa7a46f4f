// Two fake keychains; the fallback to the file store and its warning: CliServer.FileStore.
#include "server/CredentialStore.h"
#include "support/FakeKeychainBackend.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::FakeKeychainBackend;
using test::LogCapture;

class CredentialStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeKeychainBackend> secretService = std::make_shared<FakeKeychainBackend>();
    std::shared_ptr<FakeKeychainBackend> fileStore = std::make_shared<FakeKeychainBackend>();
    CredentialStore store{secretService, fileStore, "/home/u/.local/share/x/accessToken"};
};

TEST_F(CredentialStoreTest, ProtectedItemWinsSilentlyAndRemoveVisitsBoth) {
    fileStore->put("accessToken", "stale");
    LogCapture capture;
    EXPECT_EQ(store.save(CredentialItem::accessToken, "one").status, KeychainResult::Status::found);
    EXPECT_EQ(store.save(CredentialItem::accessToken, "fresh").status, KeychainResult::Status::found);
    EXPECT_EQ(store.load(CredentialItem::accessToken), "fresh");
    EXPECT_EQ(secretService->storeCalls(), 2);
    EXPECT_EQ(fileStore->storeCalls(), 0);

    // Bytes that are not UTF-8 are no token, and the file store is not consulted either.
    secretService->put("refreshToken", std::string("\xff\xfe\x80", 3));
    fileStore->put("refreshToken", "legacy");
    EXPECT_EQ(store.load(CredentialItem::refreshToken), std::nullopt);
    EXPECT_EQ(fileStore->lookUpCalls(), 0);
    EXPECT_EQ(CredentialStore(nullptr, fileStore).load(CredentialItem::refreshToken),
              "legacy"); // as unreachable

    store.remove(CredentialItem::refreshToken);
    store.remove(CredentialItem::accessToken);
    EXPECT_EQ(capture.text(), "");
    EXPECT_FALSE(secretService->contains("refreshToken") || secretService->contains("accessToken"));
    EXPECT_FALSE(fileStore->contains("refreshToken") || fileStore->contains("accessToken"));
}

TEST_F(CredentialStoreTest, FailuresAreLoggedAndReturned) {
    secretService->scriptStore(KeychainResult::failed("The collection refused the item."));
    LogCapture capture; // an error other than "unavailable" does not try the file store
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok").failure, "The collection refused the item.");
    EXPECT_EQ(fileStore->storeCalls(), 0);
    secretService->scriptLookUp(KeychainResult::failed({}));
    fileStore->scriptLookUp(KeychainResult::failed("Disk on fire."));
    EXPECT_EQ(store.load(CredentialItem::accessToken), std::nullopt);
    secretService->failEverythingWith(KeychainResult::unavailable());
    fileStore->failEverythingWith(KeychainResult::unavailable());
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok").status, KeychainResult::Status::unavailable);
    const std::vector<std::string> failures = {
        "🔑 keychain save(accessToken) failed: The collection refused the item.",
        "🔑 keychain load(accessToken) failed: An input/output error occurred while accessing the keychain.",
        "🔑 keychain load(accessToken) failed: Disk on fire.",
        "🔑 keychain save(accessToken) failed: The Secret Service is not available."};
    EXPECT_EQ(capture.count("failed"), failures.size()) << capture.text();
    for (const auto& failure : failures) {
        EXPECT_TRUE(capture.contains(failure + "\n")) << failure;
    }
}

} // namespace
} // namespace veltrane
