#include "upload/UploadQueueFile.h"

#include "support/CliProcess.h"
#include "upload/UploadJob.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::readFile;

constexpr const char* kJobA = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

Json minimalObject() {
    return Json{{"id", kJobA},        {"filename", "a.wav"}, {"projectId", "p"}, {"createdAt", 10.5},
                {"state", "pending"}, {"progress", 0.0},     {"attempts", 0}};
}

UploadJob job(std::string filename, UploadState state, double createdAt) {
    auto result = UploadJob::makeNew(std::move(filename), "prj", {}, {}, {}, {}, ReferenceDate{createdAt});
    result.state = state;
    return result;
}

class UploadQueueFileTest : public ::testing::Test {
protected:
    std::vector<fs::path> entries() const { return {fs::directory_iterator(dir), fs::directory_iterator()}; }

    QTemporaryDir temp;
    fs::path dir{temp.path().toStdString()};
    UploadQueueFile file{dir};
};

TEST_F(UploadQueueFileTest, EveryFieldRoundTripsExactlyAndOptionalsAreLeftOut) {
    EXPECT_FALSE(file.load().value());
    UploadJob full = UploadJob::makeNew("chunk.m4a", "prj-alpha", "Alpha", "mtg", "Weekly", 299.987654321,
                                        ReferenceDate{786000000.123456789});
    full.state = UploadState::uploading;
    full.progress = 0.1 + 0.2; // not exactly representable in few digits
    full.lastError = "Server said \"no\" \xE2\x80\xBA \n";
    full.attempts = 5;
    full.nextEarliestAttempt = ReferenceDate{786000032.000000001};
    full.taskIdentifier = 9'007'199'254'740'993; // beyond double precision
    full.folder = "/home/u/Meetings";
    full.waitingFor = UploadWait::server;
    full.waitingSince = ReferenceDate{786000001.5};
    ASSERT_TRUE(file.save({full}));
    // A save never rewrites the file in place: the old list stays whole under its old link.
    const std::string saved = readFile(file.path());
    fs::create_hard_link(file.path(), dir / "before-save");
    ASSERT_TRUE(file.save({full, job("a.wav", UploadState::pending, 1)}));
    EXPECT_EQ(readFile(dir / "before-save"), saved);
    fs::remove(dir / "before-save");
    const auto loaded = file.load().value()->jobs;
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded.front(), full);
    EXPECT_EQ(fs::status(file.path()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    const std::string text = readFile(file.path());
    EXPECT_EQ(text.find('\n'), std::string::npos) << "written compactly";
    EXPECT_EQ(Json::parse(text).at(1).size(), 7u) << "only the seven required keys";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "no temporary left";
    EXPECT_FALSE(UploadQueueFile(dir / "missing" / "deeper").save({}));
}

TEST(UploadJobDecoding, LenientWhereHarmlessStrictElsewhere) {
    Json lenient = minimalObject();
    lenient["colour"] = "blue";                             // ignored, and not written back
    lenient["meetingId"] = nullptr;                         // null counts as absent
    lenient["id"] = "3f2504e0-4f89-41d3-9a0c-0305e82c3301"; // read in lower case, written upper case
    lenient["attempts"] = 2.0;                              // an integral number is an integer
    lenient["waitingFor"] = "later";                        // an unknown reason is dropped
    const auto decoded = decodeUploadJobs(Json::array({lenient}).dump());
    ASSERT_TRUE(decoded.isClean());
    const auto& loaded = decoded.jobs;
    EXPECT_EQ(loaded.at(0).id, kJobA);
    EXPECT_FALSE(loaded.at(0).meetingId);
    EXPECT_FALSE(loaded.at(0).waitingFor);
    EXPECT_EQ(loaded.at(0).attempts, 2);
    EXPECT_FALSE(Json::parse(encodeUploadJobs(loaded)).at(0).contains("colour"));

    // One bad entry is set aside, the good one beside it kept (a null in a patch removes the key).
    for (const char* patch :
         {R"({"state":"paused"})", R"({"id":"not-a-uuid"})",
          R"({"id":"3F2504E0X4F89-41D3-9A0C-0305E82C3301"})", R"({"attempts":"1"})", R"({"attempts":1.5})",
          R"({"progress":true})", R"({"meetingId":7})", R"({"nextEarliestAttempt":{}})", R"({"id":null})",
          R"({"filename":null})", R"({"projectId":null})", R"({"createdAt":null})", R"({"state":null})",
          R"({"progress":null})", R"({"attempts":null})"}) {
        Json bad = minimalObject();
        bad.merge_patch(Json::parse(patch));
        const auto salvaged = decodeUploadJobs(Json::array({minimalObject(), bad}).dump());
        EXPECT_EQ(salvaged.jobs.size(), 1u) << patch;
        EXPECT_EQ(salvaged.undecodableEntries, 1u) << patch;
    }
}

TEST_F(UploadQueueFileTest, DamagedFileIsSalvagedJobByJobAndReadingChangesNothing) {
    Json second = minimalObject();
    second["id"] = "0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9";
    second["lastError"] = "a } and a \" inside { text";
    const std::string good = minimalObject().dump() + "," + second.dump();
    // A cut-off file, foreign bytes around it, and an entry of the wrong kind.
    for (const std::string& original : {"[" + good + R"(,{"id":"6F1A3C2E-0B7D-4E55-9A1F-2C3D4E5F60)",
                                        "\x01\xff[" + good + ",17,{\"state\":1}]\x00"}) {
        std::ofstream(file.path(), std::ios::binary | std::ios::trunc) << original;
        const auto loaded = file.load().value();
        ASSERT_TRUE(loaded && !loaded->isClean());
        EXPECT_EQ(loaded->jobs.size(), 2u);
        EXPECT_EQ(loaded->jobs[1], decodeUploadJobs("[" + second.dump() + "]").jobs.at(0));
        EXPECT_EQ(entries().size(), 1u) << "reading sets nothing aside";
        ASSERT_TRUE(UploadQueueFile::damageText(*loaded));
        const auto aside = file.setAside();
        ASSERT_TRUE(aside);
        EXPECT_EQ(readFile(*aside), original);
        EXPECT_EQ(readFile(file.path()), original) << "copied, the owner replaces the file";
        fs::remove(*aside);
    }
    for (const char* text : {R"({"id":"x"})", "[{", ""}) {
        EXPECT_TRUE(decodeUploadJobs(text).jobs.empty()) << text;
        EXPECT_FALSE(decodeUploadJobs(text).isClean()) << text;
    }
}

TEST(LoadedJobsOrderTest, KeepsTheLast500CompletedByFileOrderAndAllOthersSortedByCreation) {
    std::vector<UploadJob> fileJobs;
    for (int i = 0; i < 600; ++i) {
        // The first completed job in the file is the newest one: still it is one of those dropped.
        fileJobs.push_back(job("c" + std::to_string(i), UploadState::completed, i == 0 ? 9999 : 1000 + i));
    }
    // Pending jobs interleaved in time and placed first in the file.
    fileJobs.insert(fileJobs.begin(), job("p-late", UploadState::pending, 5000));
    fileJobs.insert(fileJobs.begin(), job("p-early", UploadState::pending, 1));
    fileJobs.push_back(job("p-mid", UploadState::failed, 1300.5));
    const auto loaded = orderLoadedJobs(fileJobs);
    ASSERT_EQ(loaded.size(), 503u);
    EXPECT_EQ(loaded.front().filename, "p-early");
    EXPECT_EQ(loaded[1].filename, "c100");
    EXPECT_EQ(loaded[501].filename, "c599");
    EXPECT_EQ(loaded.back().filename, "p-late");
    EXPECT_TRUE(std::ranges::is_sorted(loaded, {}, [](const UploadJob& j) { return j.createdAt; }));
    EXPECT_EQ(std::ranges::count(loaded, std::string("p-mid"), &UploadJob::filename), 1);
}

} // namespace
} // namespace veltrane
