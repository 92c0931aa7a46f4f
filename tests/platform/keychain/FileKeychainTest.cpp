// The owner-only file store; a signed-in token's file and its modes are also checked end to end.
#include "platform/keychain/impl/FileKeychain.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace veltrane {
namespace {

namespace fs = std::filesystem;

const std::string kService = "co.brimfold.VeltraneRecorder";

std::vector<fs::path> entriesOf(const fs::path& folder) {
    return {fs::directory_iterator(folder), fs::directory_iterator()};
}

class FileKeychainTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    fs::path root{temp.path().toStdString()};
    fs::path folder{root / "data" / "credentials"};
    FileKeychain keychain{folder};
};

TEST_F(FileKeychainTest, ItemsAreReplacedAndDeletedOneByOneInAnOwnerOnlyFolderWhateverTheUmask) {
    EXPECT_EQ(keychain.lookUp(kService, "accessToken").status, KeychainResult::Status::notFound);
    EXPECT_EQ(keychain.remove(kService, "accessToken").status, KeychainResult::Status::notFound);
    EXPECT_FALSE(fs::exists(folder)) << "reading must not create the folder";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all);
    const mode_t previous = ::umask(0);
    const std::string token("tok\0en\xff\xfe\x80 end", 13);
    EXPECT_EQ(keychain.store(kService, "accessToken", "first-and-longer").status,
              KeychainResult::Status::found);
    EXPECT_EQ(keychain.store(kService, "accessToken", token).status,
              KeychainResult::Status::found); // replaces it
    EXPECT_EQ(keychain.store(kService, "refreshToken", "").status,
              KeychainResult::Status::found); // empty is an item
    ::umask(previous);
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    for (const fs::path& file : entriesOf(folder)) {
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write) << file;
    }
    EXPECT_EQ(keychain.lookUp(kService, "accessToken").data, token);
    EXPECT_EQ(keychain.lookUp(kService, "refreshToken").data, std::string());
    EXPECT_EQ(entriesOf(folder).size(), 2U) << "no temporary files are left behind";
    EXPECT_EQ(keychain.remove(kService, "accessToken").status, KeychainResult::Status::found);
    EXPECT_EQ(keychain.lookUp(kService, "accessToken").status, KeychainResult::Status::notFound);
    EXPECT_EQ(keychain.lookUp(kService, "refreshToken").status, KeychainResult::Status::found);
}

TEST_F(FileKeychainTest, ItemsAreKeyedByServiceAndAccountWhateverTheNamesUnlessTooLong) {
    // Pairs that would collide if the two parts were simply joined, and names that are no file names.
    std::vector<std::pair<std::string, std::string>> pairs = {
        {"s", "a"}, {"t", "a"}, {"x+y", "z"}, {"x", "y+z"}, {"/absolute", "%2F"}};
    for (const std::string account :
         {"../escape", "../../../tmp/escape", "a/b", ".", "..", "", ".hidden", "~", "new\nline", "nul"}) {
        pairs.emplace_back(kService, account == "nul" ? std::string("nul\0byte", 8) : account);
    }
    for (const auto& [service, account] : pairs) {
        ASSERT_EQ(keychain.store(service, account, service + "/" + account).status,
                  KeychainResult::Status::found)
            << account;
    }
    for (const auto& [service, account] : pairs) {
        EXPECT_EQ(keychain.lookUp(service, account).data, service + "/" + account) << account;
    }
    // Every item is one plain, visible file directly in the folder; nothing appeared beside it.
    const auto entries = entriesOf(folder);
    EXPECT_EQ(entries.size(), pairs.size());
    for (const auto& entry : entries) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(entry))) << entry;
        EXPECT_NE(entry.filename().string().front(), '.') << entry;
    }
    EXPECT_EQ(entriesOf(root), std::vector<fs::path>{root / "data"});
    EXPECT_EQ(entriesOf(root / "data"), std::vector<fs::path>{folder});
    // Too long a name, and a file where the folder should be, or a relative folder, are errors.
    std::ofstream(root / "file") << "not a folder";
    FileKeychain onFile(root / "file");
    FileKeychain relative("relative-file-keychain-test");
    for (auto [store, account] : {std::pair{&keychain, std::string(300, 'a')},
                                  {&onFile, "accessToken"},
                                  {&relative, "accessToken"}}) {
        EXPECT_EQ(store->store(kService, account, "x").status, KeychainResult::Status::failed) << account;
        EXPECT_EQ(store->lookUp(kService, account).status, KeychainResult::Status::failed) << account;
        EXPECT_EQ(store->remove(kService, account).status, KeychainResult::Status::failed) << account;
    }
    EXPECT_FALSE(fs::exists("relative-file-keychain-test"));
}

} // namespace
} // namespace veltrane
