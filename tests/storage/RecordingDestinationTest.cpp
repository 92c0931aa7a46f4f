#include "storage/RecordingDestination.h"

#include "platform/settings/UserDefaults.h"
#include "storage/ChunkFileName.h"
#include "support/StdoutCapture.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

namespace veltrane {
namespace {

using test::StdoutCapture;

// Answers the chooser with a scripted folder and records how it was asked.
class ScriptedChooser : public FolderChooser {
public:
    std::optional<std::filesystem::path>
    chooseFolder(const QString& title, const QString& acceptLabel,
                 const std::optional<std::filesystem::path>& startFolder) override {
        std::tie(askedTitle, askedAcceptLabel, askedStart) = std::tie(title, acceptLabel, startFolder);
        return answer;
    }

    std::optional<std::filesystem::path> answer;
    QString askedTitle;
    QString askedAcceptLabel;
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

TEST_F(RecordingDestinationTest, ChosenFolderIsAcceptedRememberedAndReopened) {
    const auto first = make();
    EXPECT_FALSE(first->url());
    EXPECT_FALSE(first->errorMessage());

    chooser->answer = folder("Meetings");
    StdoutCapture log;
    first->chooseFolder();
    EXPECT_EQ(chooser->askedTitle, QStringLiteral("Choose a folder for recorded audio chunks"));
    EXPECT_EQ(chooser->askedAcceptLabel, QStringLiteral("Choose"));
    EXPECT_FALSE(chooser->askedStart);
    EXPECT_EQ(first->url(), chooser->answer);
    EXPECT_EQ(log.text(), "📁 destination set: " + chooser->answer->string() + " (scoped: true)\n");
    EXPECT_EQ(stored(), QString::fromStdString(chooser->answer->string()));

    // The next start reopens it without rewriting the entry.
    const int writes = defaults->writeCount();
    const auto second = make();
    EXPECT_EQ(second->url(), chooser->answer);
    EXPECT_EQ(second->accessedURL(), chooser->answer);
    EXPECT_EQ(defaults->writeCount(), writes);
    second->chooseFolder();
    EXPECT_EQ(chooser->askedStart, chooser->answer);

    // Once the folder is gone, the next start forgets it silently.
    std::filesystem::remove(*chooser->answer);
    const auto third = make();
    EXPECT_FALSE(third->url());
    EXPECT_FALSE(third->errorMessage());
    EXPECT_FALSE(stored());
}

TEST_F(RecordingDestinationTest, UnwritableFolderKeepsThePreviousOneAndNamesOnlyTheChosenFolder) {
    // Permission bits let root write anywhere, so the refused folder is one no process may create
    // files in, whoever it runs as.
    const auto destination = make();
    chooser->answer = folder("Good");
    destination->chooseFolder();
    chooser->answer = std::filesystem::path("/proc/self");
    destination->chooseFolder();
    EXPECT_EQ(destination->url(), folder("Good"));
    EXPECT_EQ(destination->errorMessage(), QStringLiteral("self is not writable. Choose another folder."));
    EXPECT_FALSE(destination->accessedURL());

    // A good choice clears the message; a cancelled chooser changes nothing.
    chooser->answer = folder("Better");
    destination->chooseFolder();
    EXPECT_FALSE(destination->errorMessage());
    chooser->answer.reset();
    destination->chooseFolder();
    EXPECT_EQ(destination->url(), folder("Better"));
}

TEST(DeviceIdentifier, LettersAndDigitsEndingInADigit) {
    const std::vector<std::pair<QString, bool>> cases = {
        {"studio7", true}, {"mac001", true},    {"ab1", true},    {"7", false},
        {"Studio", false}, {"studio-7", false}, {"büro7", false}, {"studio 7", false},
        {"a1\n", false},   {"a1 ", false},      {"", false},      {"ab\u0661", false},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(isValidDeviceID(text), valid) << text.toStdString();
    }
}

} // namespace
} // namespace veltrane
