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
    EXPECT_EQ(store.save(CredentialItem::accessToken, "one"), 0);
    EXPECT_EQ(store.save(CredentialItem::accessToken, "fresh"), 0);
    EXPECT_EQ(store.load(CredentialItem::accessToken), "fresh");
    EXPECT_EQ(secretService->addProtectionFlags(), (std::vector<bool>{true, true}));
    EXPECT_EQ(fileStore->addCalls(), 0);

    // Bytes that are not UTF-8 are no token, and the file store is not consulted either.
    secretService->put("refreshToken", std::string("\xff\xfe\x80", 3));
    fileStore->put("refreshToken", "legacy");
    EXPECT_EQ(store.load(CredentialItem::refreshToken), std::nullopt);
    EXPECT_EQ(fileStore->copyCalls(), 0);
    EXPECT_EQ(CredentialStore(nullptr, fileStore).load(CredentialItem::refreshToken),
              "legacy"); // as unreachable

    store.remove(CredentialItem::refreshToken);
    store.remove(CredentialItem::accessToken);
    EXPECT_EQ(capture.text(), "");
    EXPECT_FALSE(secretService->contains("refreshToken") || secretService->contains("accessToken"));
    EXPECT_FALSE(fileStore->contains("refreshToken") || fileStore->contains("accessToken"));
}

TEST_F(CredentialStoreTest, FailuresAreLoggedAndReturned) {
    secretService->scriptAdd(kKeychainInteractionNotAllowed);
    LogCapture capture; // an error other than "unreachable" does not try the file store
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok"), kKeychainInteractionNotAllowed);
    EXPECT_EQ(fileStore->addCalls(), 0);
    secretService->scriptCopy(kKeychainIOError);
    fileStore->scriptCopy(kKeychainIOError);
    EXPECT_EQ(store.load(CredentialItem::accessToken), std::nullopt);
    secretService->failEverythingWith(kKeychainMissingEntitlement);
    fileStore->failEverythingWith(kKeychainMissingEntitlement);
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok"), kKeychainMissingEntitlement);
    const std::vector<std::string> failures = {
        "🔑 keychain save(accessToken) failed: -25308 (User interaction is not allowed.)",
        "🔑 keychain load(accessToken) failed: -36 (unknown)",
        "🔑 keychain load(accessToken) failed: -36 (unknown)",
        "🔑 keychain save(accessToken) failed: -34018 (No Secret Service is available.)"};
    auto lines = capture.lines();
    std::erase_if(lines, [](const std::string& line) { return line.find("failed") == std::string::npos; });
    EXPECT_EQ(lines, failures);
}

} // namespace
} // namespace veltrane
