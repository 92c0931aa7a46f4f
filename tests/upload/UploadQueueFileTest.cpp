#include "upload/UploadQueueFile.h"

#include "support/StdoutCapture.h"
#include "upload/UploadJob.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr const char* idA = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Json minimalObject() {
    return Json{{"id", idA},          {"filename", "a.wav"}, {"projectId", "p"}, {"createdAt", 10.5},
                {"state", "pending"}, {"progress", 0.0},     {"attempts", 0}};
}

UploadJob job(std::string filename, UploadState state, double createdAt) {
    auto result = UploadJob::makeNew(std::move(filename), "prj", {}, {}, {}, {}, ReferenceDate{createdAt});
    result.state = state;
    return result;
}

std::vector<fs::path> asideFiles(const fs::path& directory) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(directory)) {
        if (entry.path().filename().string().starts_with("upload_queue.unreadable-")) {
            found.push_back(entry.path());
        }
    }
    return found;
}

class UploadQueueFileTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    fs::path dir{temp.path().toStdString()};
    UploadQueueFile file{dir};
};

TEST_F(UploadQueueFileTest, LivesInTheGivenFolder) {
    EXPECT_EQ(file.path(), dir / "upload_queue.json");
}

TEST_F(UploadQueueFileTest, AbsentFileLoadsNothingAndSetsNothingAside) {
    EXPECT_FALSE(file.load());
    EXPECT_TRUE(asideFiles(dir).empty());
}

TEST_F(UploadQueueFileTest, EveryFieldRoundTripsExactly) {
    UploadJob full = UploadJob::makeNew("chunk.m4a", "prj-alpha", "Alpha", "mtg", "Weekly", 299.987654321,
                                        ReferenceDate{786000000.123456789});
    full.state = UploadState::uploading;
    full.progress = 0.1 + 0.2; // not exactly representable in few digits
    full.lastError = "Server said \"no\" \xE2\x80\xBA \n";
    full.attempts = 5;
    full.nextEarliestAttempt = ReferenceDate{786000032.000000001};
    full.taskIdentifier = 9'007'199'254'740'993; // beyond double precision
    ASSERT_TRUE(file.save({full}));
    const auto loaded = file.load();
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 1u);
    EXPECT_EQ(loaded->front(), full);
}

TEST_F(UploadQueueFileTest, JobWithoutOptionalsHasExactlySevenKeys) {
    ASSERT_TRUE(file.save({job("a.wav", UploadState::pending, 1)}));
    const Json written = Json::parse(readFile(file.path()));
    ASSERT_TRUE(written.is_array());
    std::set<std::string> keys;
    for (const auto& [key, value] : written.at(0).items()) {
        keys.insert(key);
    }
    EXPECT_EQ(keys, (std::set<std::string>{"id", "filename", "projectId", "createdAt", "state", "progress",
                                           "attempts"}));
    EXPECT_TRUE(written.at(0).at("createdAt").is_number());
    EXPECT_EQ(written.at(0).at("state"), "pending");
    EXPECT_EQ(readFile(file.path()).find('\n'), std::string::npos) << "written compactly";
}

TEST_F(UploadQueueFileTest, UnknownKeyIsIgnoredAndNotWrittenBack) {
    Json object = minimalObject();
    object["colour"] = "blue";
    writeFile(file.path(), Json::array({object}).dump());
    const auto loaded = file.load();
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 1u);
    ASSERT_TRUE(file.save(*loaded));
    EXPECT_FALSE(Json::parse(readFile(file.path())).at(0).contains("colour"));
}

TEST_F(UploadQueueFileTest, NullOptionalCountsAsAbsent) {
    Json object = minimalObject();
    object["meetingId"] = nullptr;
    object["taskIdentifier"] = nullptr;
    const auto loaded = decodeUploadJobs(Json::array({object}).dump());
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(loaded->at(0).meetingId);
    EXPECT_FALSE(loaded->at(0).taskIdentifier);
}

TEST_F(UploadQueueFileTest, LowerCaseIdIsAcceptedAndWrittenUpperCase) {
    Json object = minimalObject();
    object["id"] = "3f2504e0-4f89-41d3-9a0c-0305e82c3301";
    const auto loaded = decodeUploadJobs(Json::array({object}).dump());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->at(0).id, idA);
}

TEST(UploadJobDecoding, AnyBadEntryMakesTheWholeTextUndecodable) {
    const auto withChange = [](const char* key, Json value) {
        Json bad = minimalObject();
        if (value.is_discarded()) {
            bad.erase(key);
        } else {
            bad[key] = value;
        }
        Json good = minimalObject();
        good["id"] = "00000000-0000-4000-8000-000000000000";
        return Json::array({good, bad}).dump();
    };
    const Json removed = Json(Json::value_t::discarded);
    EXPECT_TRUE(decodeUploadJobs(Json::array({minimalObject()}).dump()));
    for (const char* key : {"id", "filename", "projectId", "createdAt", "state", "progress", "attempts"}) {
        EXPECT_FALSE(decodeUploadJobs(withChange(key, removed))) << "missing " << key;
        EXPECT_FALSE(decodeUploadJobs(withChange(key, nullptr))) << "null " << key;
    }
    EXPECT_FALSE(decodeUploadJobs(withChange("state", "paused")));
    EXPECT_FALSE(decodeUploadJobs(withChange("id", "not-a-uuid")));
    EXPECT_FALSE(decodeUploadJobs(withChange("id", "3F2504E0X4F89-41D3-9A0C-0305E82C3301")));
    EXPECT_FALSE(decodeUploadJobs(withChange("attempts", "1")));
    EXPECT_FALSE(decodeUploadJobs(withChange("attempts", 1.5)));
    EXPECT_FALSE(decodeUploadJobs(withChange("progress", true)));
    EXPECT_FALSE(decodeUploadJobs(withChange("createdAt", "2024-01-01")));
    EXPECT_FALSE(decodeUploadJobs(withChange("filename", 7)));
    EXPECT_FALSE(decodeUploadJobs(withChange("meetingId", 7)));
    EXPECT_FALSE(decodeUploadJobs(withChange("taskIdentifier", "12")));
    EXPECT_FALSE(decodeUploadJobs(withChange("nextEarliestAttempt", Json::object())));
    EXPECT_FALSE(decodeUploadJobs(R"({"id":"x"})"));
    EXPECT_FALSE(decodeUploadJobs("[1]"));
    EXPECT_FALSE(decodeUploadJobs("[{"));
    EXPECT_TRUE(decodeUploadJobs(withChange("attempts", 2.0))) << "an integral number is an integer";
}

TEST_F(UploadQueueFileTest, UndecodableFileIsKeptAsideWithAWarning) {
    Json bad = minimalObject();
    bad["state"] = "paused";
    const std::string original = Json::array({minimalObject(), bad}).dump();
    writeFile(file.path(), original);
    test::StdoutCapture capture;
    EXPECT_FALSE(file.load());
    EXPECT_EQ(capture.count("⚠️"), 1u);
    const auto aside = asideFiles(dir);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside.front()), original);
    const std::string name = aside.front().filename().string();
    EXPECT_EQ(name.size(), std::string("upload_queue.unreadable-20261206-101500.json").size()) << name;
    EXPECT_TRUE(name.ends_with(".json"));
    EXPECT_FALSE(fs::exists(file.path()));

    ASSERT_TRUE(file.save({job("new.wav", UploadState::pending, 1)}));
    EXPECT_EQ(file.load()->size(), 1u);
    EXPECT_EQ(readFile(asideFiles(dir).front()), original) << "a later save leaves the kept file alone";
}

TEST_F(UploadQueueFileTest, SecondUndecodableFileInTheSameSecondGetsItsOwnName) {
    writeFile(file.path(), "garbage one");
    (void)file.load();
    writeFile(file.path(), "garbage two");
    (void)file.load();
    const auto aside = asideFiles(dir);
    ASSERT_EQ(aside.size(), 2u);
    std::set<std::string> contents{readFile(aside[0]), readFile(aside[1])};
    EXPECT_EQ(contents, (std::set<std::string>{"garbage one", "garbage two"}));
}

TEST_F(UploadQueueFileTest, UploadingJobLoadsUnchanged) {
    UploadJob uploading = job("u.wav", UploadState::uploading, 5);
    uploading.taskIdentifier = 17;
    uploading.progress = 0.4;
    ASSERT_TRUE(file.save({uploading}));
    EXPECT_EQ(orderLoadedJobs(*file.load()), std::vector<UploadJob>{uploading});
}

TEST_F(UploadQueueFileTest, SaveLeavesNoTemporaryFileAndFailsQuietlyWithoutFolder) {
    ASSERT_TRUE(file.save({job("a.wav", UploadState::pending, 1)}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    UploadQueueFile nowhere{dir / "missing" / "deeper"};
    EXPECT_FALSE(nowhere.save({}));
}

TEST(LoadedJobsOrderTest, KeepsTheLast500CompletedAndAllOthersSortedByCreation) {
    std::vector<UploadJob> fileJobs;
    for (int i = 0; i < 600; ++i) {
        fileJobs.push_back(job("c" + std::to_string(i), UploadState::completed, 1000 + i));
    }
    // Pending jobs interleaved in time and placed first in the file.
    fileJobs.insert(fileJobs.begin(), job("p-late", UploadState::pending, 5000));
    fileJobs.insert(fileJobs.begin(), job("p-early", UploadState::pending, 1));
    fileJobs.push_back(job("p-mid", UploadState::failed, 1300.5));
    const auto loaded = orderLoadedJobs(fileJobs);
    ASSERT_EQ(loaded.size(), 503u);
    EXPECT_EQ(loaded.front().filename, "p-early");
    EXPECT_EQ(loaded[1].filename, "c100");
    EXPECT_EQ(loaded.back().filename, "p-late");
    EXPECT_EQ(loaded[502 - 1].filename, "c599");
    for (std::size_t i = 1; i < loaded.size(); ++i) {
        EXPECT_LE(loaded[i - 1].createdAt, loaded[i].createdAt);
    }
    EXPECT_EQ(
        std::count_if(loaded.begin(), loaded.end(), [](const UploadJob& j) { return j.filename == "p-mid"; }),
        1);
}

TEST(LoadedJobsOrderTest, DropsOnlyByFileOrderNotByDate) {
    std::vector<UploadJob> fileJobs;
    for (int i = 0; i < 501; ++i) {
        // The first completed job in the file is the newest one: still it is the one dropped.
        fileJobs.push_back(job("c" + std::to_string(i), UploadState::completed, i == 0 ? 9999 : i));
    }
    const auto loaded = orderLoadedJobs(fileJobs);
    ASSERT_EQ(loaded.size(), 500u);
    EXPECT_TRUE(
        std::none_of(loaded.begin(), loaded.end(), [](const UploadJob& j) { return j.filename == "c0"; }));
}

TEST(LoadedJobsOrderTest, EqualCreationTimesKeepTheirOrder) {
    const auto loaded = orderLoadedJobs(
        {job("completed-b", UploadState::completed, 7), job("pending-a", UploadState::pending, 7),
         job("completed-c", UploadState::completed, 7), job("older", UploadState::pending, 3)});
    std::vector<std::string> names;
    for (const auto& j : loaded) {
        names.push_back(j.filename);
    }
    // Completed jobs first, then the others, each in file order; then a stable sort.
    EXPECT_EQ(names, (std::vector<std::string>{"older", "completed-b", "completed-c", "pending-a"}));
}

} // namespace
} // namespace veltrane
