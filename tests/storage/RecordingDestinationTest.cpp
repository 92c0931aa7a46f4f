#include "storage/RecordingDestination.h"

#include "platform/settings/UserDefaults.h"
#include "storage/ChunkFileName.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace veltrane {
namespace {

// Answers with a scripted folder and keeps the folder it was asked to start in.
class ScriptedChooser : public FolderChooser {
public:
    std::optional<std::filesystem::path>
    chooseFolder(const QString&, const QString&, const std::optional<std::filesystem::path>& start) override {
        askedStart = start;
        return answer;
    }

    std::optional<std::filesystem::path> answer;
    std::optional<std::filesystem::path> askedStart;
};

class RecordingDestinationTest : public ::testing::Test {
protected:
    std::filesystem::path folder(const char* name) {
        const std::filesystem::path path = std::filesystem::path(root.path().toStdString()) / name;
        std::filesystem::create_directories(path);
        return path;
    }
    std::unique_ptr<RecordingDestination> make() {
        return std::make_unique<RecordingDestination>(defaults, chooser);
    }
    [[nodiscard]] std::optional<QString> stored() const {
        return defaults->string(RecordingDestination::kDestinationBookmark);
    }

    QTemporaryDir root;
    std::shared_ptr<InMemoryUserDefaults> defaults = std::make_shared<InMemoryUserDefaults>();
    std::shared_ptr<ScriptedChooser> chooser = std::make_shared<ScriptedChooser>();
};

// Root may write where permission bits forbid it; no process may create files in /proc/self.
TEST_F(RecordingDestinationTest, ChosenFolderIsRememberedAnUnwritableOneRefusedAndAGoneOneForgotten) {
    const auto destination = make();
    EXPECT_FALSE(destination->url());
    chooser->answer = folder("Good");
    destination->chooseFolder();
    EXPECT_EQ(stored(), QString::fromStdString(chooser->answer->string()));
    chooser->answer = std::filesystem::path("/proc/self");
    destination->chooseFolder();
    EXPECT_EQ(destination->url(), folder("Good"));
    EXPECT_EQ(destination->errorMessage(), QStringLiteral("self is not writable. Choose another folder."));
    EXPECT_FALSE(destination->accessedURL());

    // A good choice clears the message; a cancelled chooser, started in it, changes nothing.
    chooser->answer = folder("Better");
    destination->chooseFolder();
    EXPECT_FALSE(destination->errorMessage());
    chooser->answer.reset();
    destination->chooseFolder();
    EXPECT_EQ(destination->url(), folder("Better"));
    EXPECT_EQ(chooser->askedStart, folder("Better"));

    // The next start reopens it without rewriting the entry; once it is gone, forgets it silently.
    const int writes = defaults->writeCount();
    EXPECT_EQ(make()->accessedURL(), folder("Better"));
    EXPECT_EQ(defaults->writeCount(), writes);
    std::filesystem::remove(folder("Better"));
    const auto gone = make();
    EXPECT_FALSE(gone->url());
    EXPECT_FALSE(gone->errorMessage());
    EXPECT_FALSE(stored());
}

TEST(DeviceIdentifier, LettersAndDigitsEndingInADigit) {
    for (const QString valid : {"studio7", "mac001", "ab1"}) {
        EXPECT_TRUE(isValidDeviceID(valid)) << valid.toStdString();
    }
    for (const QString invalid :
         {"7", "Studio", "studio-7", "büro7", "studio 7", "a1\n", "a1 ", "", "ab\u0661"}) {
        EXPECT_FALSE(isValidDeviceID(invalid)) << invalid.toStdString();
    }
}

} // namespace
} // namespace veltrane
