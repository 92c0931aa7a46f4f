#include "server/CredentialStore.h"
#include "server/FakeKeychainBackend.h"
#include "support/StdoutCapture.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::FakeKeychainBackend;
using test::StdoutCapture;

class CredentialStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeKeychainBackend> secretService = std::make_shared<FakeKeychainBackend>();
    std::shared_ptr<FakeKeychainBackend> fileStore = std::make_shared<FakeKeychainBackend>();
    CredentialStore store{secretService, fileStore, "/home/u/.local/share/x/accessToken"};
};

TEST_F(CredentialStoreTest, SaveThenLoadUsesTheProtectedStoreOnlyAndLogsNothing) {
    StdoutCapture capture;
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok-1"), 0);
    EXPECT_EQ(store.load(CredentialItem::accessToken), "tok-1");
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(fileStore->addCalls(), 0);
    EXPECT_EQ(fileStore->copyCalls(), 0);
    ASSERT_EQ(secretService->addProtectionFlags().size(), 1u);
    EXPECT_TRUE(secretService->addProtectionFlags()[0]);
    for (const std::string& service : secretService->services()) {
        EXPECT_EQ(service, "co.brimfold.VeltraneRecorder");
    }
}

TEST_F(CredentialStoreTest, UnreachableSecretServiceFallsBackToFileStoreWithOneWarning) {
    secretService->failEverythingWith(kKeychainMissingEntitlement);
    {
        StdoutCapture capture;
        EXPECT_EQ(store.save(CredentialItem::accessToken, "tok-2"), 0);
        EXPECT_EQ(capture.count("🔑 data-protection keychain unavailable ("), 1u);
        EXPECT_TRUE(capture.contains("🔑 data-protection keychain unavailable (-34018 (No Secret Service is "
                                     "available.)) — using the legacy keychain"));
        EXPECT_EQ(
            capture.count("⚠️ No Secret Service available — the session token is stored unencrypted in "
                          "/home/u/.local/share/x/accessToken"),
            1u);
        EXPECT_FALSE(capture.contains("failed"));
    }
    ASSERT_EQ(fileStore->addProtectionFlags().size(), 1u);
    EXPECT_FALSE(fileStore->addProtectionFlags()[0]);
    StdoutCapture capture;
    EXPECT_EQ(store.load(CredentialItem::accessToken), "tok-2");
    EXPECT_EQ(capture.text(), "");
}

TEST_F(CredentialStoreTest, BothUnreachableLogsTwiceThenFailureAndReturnsTheStatus) {
    secretService->failEverythingWith(kKeychainMissingEntitlement);
    fileStore->failEverythingWith(kKeychainMissingEntitlement);
    StdoutCapture capture;
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok"), kKeychainMissingEntitlement);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("🔑 data-protection keychain unavailable (", 0), 0u);
    EXPECT_EQ(lines[1].rfind("🔑 data-protection keychain unavailable (", 0), 0u);
    EXPECT_EQ(lines[2], "🔑 keychain save(accessToken) failed: -34018 (No Secret Service is available.)");
}

TEST_F(CredentialStoreTest, OtherErrorFromProtectedStoreDoesNotTryTheFileStore) {
    secretService->scriptAdd(kKeychainInteractionNotAllowed);
    StdoutCapture capture;
    EXPECT_EQ(store.save(CredentialItem::accessToken, "tok"), kKeychainInteractionNotAllowed);
    EXPECT_EQ(fileStore->addCalls(), 0);
    EXPECT_EQ(fileStore->deleteCalls(), 0);
    EXPECT_EQ(capture.text(),
              "🔑 keychain save(accessToken) failed: -25308 (User interaction is not allowed.)\n");
}

TEST_F(CredentialStoreTest, StatusWithoutMessageReadsUnknown) {
    EXPECT_EQ(store.statusText(-99999), "-99999 (unknown)");
    EXPECT_EQ(store.statusText(0), "0 (No error.)");
}

TEST_F(CredentialStoreTest, LoadingAMissingItemIsSilent) {
    StdoutCapture capture;
    EXPECT_EQ(store.load(CredentialItem::accessToken), std::nullopt);
    EXPECT_EQ(capture.text(), "");
    EXPECT_EQ(fileStore->copyCalls(), 1);
}

TEST_F(CredentialStoreTest, LoadErrorsInBothVariantsLogTwoLines) {
    secretService->scriptCopy(kKeychainIOError);
    fileStore->scriptCopy(kKeychainIOError);
    StdoutCapture capture;
    EXPECT_EQ(store.load(CredentialItem::accessToken), std::nullopt);
    EXPECT_EQ(capture.count("🔑 keychain load(accessToken) failed: -36 (unknown)"), 2u);
}

TEST_F(CredentialStoreTest, ProtectedItemIsFoundBeforeAStaleFileItem) {
    fileStore->put("accessToken", "stale");
    EXPECT_EQ(store.save(CredentialItem::accessToken, "fresh"), 0);
    EXPECT_EQ(store.load(CredentialItem::accessToken), "fresh");
    EXPECT_TRUE(fileStore->contains("accessToken")); // not cleaned up
}

TEST_F(CredentialStoreTest, NonUtf8BytesAreNoTokenAndTheFileStoreIsNotConsulted) {
    secretService->put("accessToken", std::string("\xff\xfe\x80", 3));
    fileStore->put("accessToken", "legacy");
    EXPECT_EQ(store.load(CredentialItem::accessToken), std::nullopt);
    EXPECT_EQ(fileStore->copyCalls(), 0);
}

TEST_F(CredentialStoreTest, SavingTwiceReplacesTheValue) {
    EXPECT_EQ(store.save(CredentialItem::accessToken, "one"), 0);
    EXPECT_EQ(store.save(CredentialItem::accessToken, "two"), 0);
    EXPECT_EQ(store.load(CredentialItem::accessToken), "two");
}

TEST_F(CredentialStoreTest, RemoveVisitsBothStoresSilently) {
    secretService->put("refreshToken", "r");
    fileStore->put("refreshToken", "r");
    StdoutCapture capture;
    store.remove(CredentialItem::refreshToken);
    store.remove(CredentialItem::accessToken);
    EXPECT_EQ(capture.text(), "");
    EXPECT_FALSE(secretService->contains("refreshToken"));
    EXPECT_FALSE(fileStore->contains("refreshToken"));
    EXPECT_EQ(fileStore->deleteCalls(), 2);
}

TEST_F(CredentialStoreTest, MissingBackendCountsAsUnreachable) {
    CredentialStore onlyFile(nullptr, fileStore);
    StdoutCapture capture;
    EXPECT_EQ(onlyFile.save(CredentialItem::accessToken, "t"), 0);
    EXPECT_EQ(onlyFile.load(CredentialItem::accessToken), "t");
    EXPECT_TRUE(capture.contains("the local credential file"));
}

} // namespace
} // namespace veltrane
