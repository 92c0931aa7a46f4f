#include "platform/keychain/impl/FileKeychain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace veltrane {
namespace {

namespace fs = std::filesystem;

const std::string kService = "co.brimfold.VeltraneRecorder";

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<fs::path> entriesOf(const fs::path& folder) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        entries.push_back(entry.path());
    }
    return entries;
}

// Restores the process umask when it goes out of scope.
class UmaskOverride {
public:
    explicit UmaskOverride(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskOverride() { ::umask(previous_); }
    UmaskOverride(const UmaskOverride&) = delete;
    UmaskOverride& operator=(const UmaskOverride&) = delete;

private:
    mode_t previous_;
};

class FileKeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "file-keychain-test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        folder_ = root_ / "data" / "credentials";
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    fs::path folder_;
};

TEST_F(FileKeychainTest, StoredBytesAreReadBackUnchanged) {
    FileKeychain keychain(folder_);
    const std::string token("tok\0en\xff\xfe\x80 end", 13);
    ASSERT_EQ(keychain.add(kService, "accessToken", token, true), kKeychainSuccess);
    const auto found = keychain.copyMatching(kService, "accessToken");
    EXPECT_EQ(found.status, kKeychainSuccess);
    EXPECT_EQ(found.data, token);
}

TEST_F(FileKeychainTest, EmptyValueIsAnItem) {
    FileKeychain keychain(folder_);
    ASSERT_EQ(keychain.add(kService, "accessToken", "", false), kKeychainSuccess);
    const auto found = keychain.copyMatching(kService, "accessToken");
    EXPECT_EQ(found.status, kKeychainSuccess);
    EXPECT_EQ(found.data, std::string());
}

TEST_F(FileKeychainTest, MissingItemIsNotFound) {
    FileKeychain keychain(folder_);
    // Before the folder exists ...
    auto found = keychain.copyMatching(kService, "accessToken");
    EXPECT_EQ(found.status, kKeychainItemNotFound);
    EXPECT_FALSE(found.data.has_value());
    EXPECT_EQ(keychain.deleteItem(kService, "accessToken"), kKeychainItemNotFound);
    EXPECT_FALSE(fs::exists(folder_)) << "reading must not create the folder";
    // ... and once it holds another item.
    ASSERT_EQ(keychain.add(kService, "refreshToken", "r", false), kKeychainSuccess);
    found = keychain.copyMatching(kService, "accessToken");
    EXPECT_EQ(found.status, kKeychainItemNotFound);
    EXPECT_FALSE(found.data.has_value());
}

TEST_F(FileKeychainTest, DeleteRemovesOnlyThatItem) {
    FileKeychain keychain(folder_);
    ASSERT_EQ(keychain.add(kService, "accessToken", "a", false), kKeychainSuccess);
    ASSERT_EQ(keychain.add(kService, "refreshToken", "r", false), kKeychainSuccess);
    EXPECT_EQ(keychain.deleteItem(kService, "accessToken"), kKeychainSuccess);
    EXPECT_EQ(keychain.copyMatching(kService, "accessToken").status, kKeychainItemNotFound);
    EXPECT_EQ(keychain.deleteItem(kService, "accessToken"), kKeychainItemNotFound);
    EXPECT_EQ(keychain.copyMatching(kService, "refreshToken").data, "r");
}

TEST_F(FileKeychainTest, DeleteThenAddReplacesTheValue) {
    FileKeychain keychain(folder_);
    ASSERT_EQ(keychain.add(kService, "accessToken", "first-and-longer", false), kKeychainSuccess);
    ASSERT_EQ(keychain.deleteItem(kService, "accessToken"), kKeychainSuccess);
    ASSERT_EQ(keychain.add(kService, "accessToken", "second", false), kKeychainSuccess);
    EXPECT_EQ(keychain.copyMatching(kService, "accessToken").data, "second");
    // Adding over an existing item replaces it as a whole, too.
    ASSERT_EQ(keychain.add(kService, "accessToken", "third", false), kKeychainSuccess);
    EXPECT_EQ(keychain.copyMatching(kService, "accessToken").data, "third");
    EXPECT_EQ(entriesOf(folder_).size(), 1U) << "no temporary files are left behind";
}

TEST_F(FileKeychainTest, ItemsAreKeyedByServiceAndAccount) {
    FileKeychain keychain(folder_);
    ASSERT_EQ(keychain.add("s", "a", "s/a", false), kKeychainSuccess);
    ASSERT_EQ(keychain.add("s", "b", "s/b", false), kKeychainSuccess);
    ASSERT_EQ(keychain.add("t", "a", "t/a", false), kKeychainSuccess);
    // Pairs that would collide if the two parts were simply joined.
    ASSERT_EQ(keychain.add("x+y", "z", "x+y/z", false), kKeychainSuccess);
    ASSERT_EQ(keychain.add("x", "y+z", "x/y+z", false), kKeychainSuccess);
    EXPECT_EQ(keychain.copyMatching("s", "a").data, "s/a");
    EXPECT_EQ(keychain.copyMatching("s", "b").data, "s/b");
    EXPECT_EQ(keychain.copyMatching("t", "a").data, "t/a");
    EXPECT_EQ(keychain.copyMatching("x+y", "z").data, "x+y/z");
    EXPECT_EQ(keychain.copyMatching("x", "y+z").data, "x/y+z");
}

TEST_F(FileKeychainTest, FilesAndFolderAreOwnerOnlyWhateverTheUmask) {
    const UmaskOverride permissive(0);
    FileKeychain keychain(folder_);
    ASSERT_EQ(keychain.add(kService, "accessToken", "secret", true), kKeychainSuccess);
    EXPECT_EQ(modeOf(folder_), 0700U);
    const auto entries = entriesOf(folder_);
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(entries.front())));
    EXPECT_EQ(modeOf(entries.front()), 0600U);
}

TEST_F(FileKeychainTest, ExistingLooseFolderIsRestricted) {
    fs::create_directories(folder_);
    fs::permissions(folder_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
    FileKeychain keychain(folder_);
    ASSERT_EQ(keychain.add(kService, "accessToken", "secret", false), kKeychainSuccess);
    EXPECT_EQ(modeOf(folder_), 0700U);
}

TEST_F(FileKeychainTest, HostileNamesStayInsideTheFolder) {
    FileKeychain keychain(folder_);
    const std::vector<std::string> hostile = {
        "../escape", "../../../tmp/escape",       "a/b",       ".",   "..", "",
        ".hidden",   std::string("nul\0byte", 8), "/absolute", "%2F", "~",  "new\nline"};
    for (const auto& name : hostile) {
        ASSERT_EQ(keychain.add(kService, name, "account:" + name, false), kKeychainSuccess) << name;
        ASSERT_EQ(keychain.add(name, "accessToken", "service:" + name, false), kKeychainSuccess) << name;
    }
    for (const auto& name : hostile) {
        EXPECT_EQ(keychain.copyMatching(kService, name).data, "account:" + name) << name;
        EXPECT_EQ(keychain.copyMatching(name, "accessToken").data, "service:" + name) << name;
    }
    // Every item is one plain, visible file directly in the folder; nothing appeared beside it.
    const auto entries = entriesOf(folder_);
    EXPECT_EQ(entries.size(), 2 * hostile.size());
    for (const auto& entry : entries) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(entry))) << entry;
        EXPECT_NE(entry.filename().string().front(), '.') << entry;
    }
    EXPECT_EQ(entriesOf(folder_.parent_path()), std::vector<fs::path>{folder_});
    EXPECT_EQ(entriesOf(root_), std::vector<fs::path>{root_ / "data"});
    for (const auto& name : hostile) {
        EXPECT_EQ(keychain.deleteItem(kService, name), kKeychainSuccess) << name;
    }
}

TEST_F(FileKeychainTest, OverlongNamesAreRejected) {
    FileKeychain keychain(folder_);
    const std::string longAccount(300, 'a');
    EXPECT_EQ(keychain.add(kService, longAccount, "x", false), kKeychainParam);
    EXPECT_EQ(keychain.copyMatching(kService, longAccount).status, kKeychainParam);
    EXPECT_EQ(keychain.deleteItem(kService, longAccount), kKeychainParam);
}

TEST_F(FileKeychainTest, UnusableFolderIsAnIoError) {
    fs::create_directories(folder_.parent_path());
    { std::ofstream(folder_) << "not a folder"; }
    FileKeychain keychain(folder_);
    EXPECT_EQ(keychain.add(kService, "accessToken", "x", false), kKeychainIOError);
    EXPECT_EQ(keychain.copyMatching(kService, "accessToken").status, kKeychainIOError);
    EXPECT_EQ(keychain.deleteItem(kService, "accessToken"), kKeychainIOError);
}

TEST_F(FileKeychainTest, RelativeFolderIsRefused) {
    FileKeychain keychain("relative-file-keychain-test");
    EXPECT_EQ(keychain.add(kService, "accessToken", "x", false), kKeychainIOError);
    EXPECT_FALSE(fs::exists("relative-file-keychain-test"));
}

} // namespace
} // namespace veltrane
