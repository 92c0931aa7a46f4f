#include "ServerFixture.h"

#include <fstream>

namespace veltrane::devserver {
namespace {

constexpr const char* kUploadPath = "/api/v1/ingestion/upload";

// Bytes that differ at every position and include CR, LF and dashes, like real audio can.
[[nodiscard]] std::string audioBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

[[nodiscard]] std::string readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::string bytes(std::filesystem::file_size(path), '\0');
    stream.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// A body laid out exactly as the recorder's upload manager writes it.
[[nodiscard]] std::string recorderBody(const std::string& boundary,
                                       const std::vector<std::pair<std::string, std::string>>& fields,
                                       const std::string& fileName, const std::string& bytes) {
    std::string body;
    for (const auto& [name, value] : fields) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
                value + "\r\n";
    }
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName +
            "\"\r\nContent-Type: audio/wav\r\n\r\n";
    body += bytes;
    body += "\r\n--" + boundary + "--\r\n";
    return body;
}

class UploadTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        token_ = signIn();
    }

    [[nodiscard]] httplib::Result upload(const httplib::MultipartFormDataItems& items,
                                         const std::string& token) {
        return client_->Post(kUploadPath, token.empty() ? httplib::Headers{} : bearer(token), items);
    }

    [[nodiscard]] std::size_t storedFileCount() const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir_.path())) {
            count += entry.is_regular_file() ? 1 : 0;
        }
        return count;
    }

    std::string token_;
};

TEST_F(UploadTest, FileIsStoredByteForByteUnderProjectAndMeeting) {
    const std::string bytes = audioBytes(300'000);
    const std::string boundary = "Boundary-6F9619FF-8B86-4D11-B42D-00C04FC964FF";
    const auto result = client_->Post(
        kUploadPath, bearer(token_),
        recorderBody(boundary, {{"project_id", "prj-alpha"}, {"meeting_id", "mtg-alpha-kickoff"}},
                     "chunk_001.wav", bytes),
        "multipart/form-data; boundary=" + boundary);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 201) << result->body;
    const auto answer = nlohmann::json::parse(result->body);
    EXPECT_EQ(answer.at("filename"), "chunk_001.wav");
    EXPECT_EQ(answer.at("project_id"), "prj-alpha");
    EXPECT_EQ(answer.at("meeting_id"), "mtg-alpha-kickoff");
    EXPECT_EQ(answer.at("size_bytes"), bytes.size());
    EXPECT_EQ(answer.at("status"), "received");
    EXPECT_TRUE(answer.at("id").is_string());
    EXPECT_EQ(readFile(dataDir_.path() / "prj-alpha" / "mtg-alpha-kickoff" / "chunk_001.wav"), bytes);
    EXPECT_EQ(storedFileCount(), 1u);
}

TEST_F(UploadTest, FileWithoutMeetingGoesToTheNoMeetingFolderAndARepeatReplacesIt) {
    const auto first =
        upload({{"project_id", "prj-beta", "", ""}, {"file", "old", "a.m4a", "audio/mp4"}}, token_);
    ASSERT_TRUE(first);
    ASSERT_EQ(first->status, 201);
    EXPECT_TRUE(nlohmann::json::parse(first->body).at("meeting_id").is_null());
    const std::string bytes = audioBytes(5000);
    const auto second =
        upload({{"project_id", "prj-beta", "", ""}, {"file", bytes, "a.m4a", "audio/mp4"}}, token_);
    ASSERT_TRUE(second);
    ASSERT_EQ(second->status, 201);
    EXPECT_EQ(readFile(dataDir_.path() / "prj-beta" / "no-meeting" / "a.m4a"), bytes);
    EXPECT_EQ(storedFileCount(), 1u);
}

TEST_F(UploadTest, SixtyMegabyteChunkIsAccepted) {
    const std::string bytes = audioBytes(60u * 1024 * 1024);
    const std::string boundary = "Boundary-0E4C7F3A-55D1-4F0B-9A51-3C2B8E1D7A66";
    const auto result = client_->Post(
        kUploadPath, bearer(token_),
        recorderBody(boundary, {{"project_id", "prj-alpha"}, {"meeting_id", "mtg-alpha-weekly"}}, "long.wav",
                     bytes),
        "multipart/form-data; boundary=" + boundary);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 201);
    const auto path = dataDir_.path() / "prj-alpha" / "mtg-alpha-weekly" / "long.wav";
    ASSERT_EQ(std::filesystem::file_size(path), bytes.size());
    EXPECT_TRUE(readFile(path) == bytes);
}

TEST_F(UploadTest, UnsafeFileNamesAreRejected) {
    for (const std::string name : {"../escape.wav", "..", "a/b.wav", "a\\b.wav", "x..wav", "/etc/passwd"}) {
        const auto result =
            upload({{"project_id", "prj-alpha", "", ""}, {"file", "bytes", name, "audio/wav"}}, token_);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 400) << name;
        EXPECT_FALSE(result->body.empty());
    }
    const auto empty =
        upload({{"project_id", "prj-alpha", "", ""}, {"file", "bytes", "", "audio/wav"}}, token_);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->status, 400);
    EXPECT_EQ(storedFileCount(), 0u);
}

TEST_F(UploadTest, MissingPartsAreRejectedWithAText) {
    const auto noProject = upload({{"file", "bytes", "a.wav", "audio/wav"}}, token_);
    ASSERT_TRUE(noProject);
    EXPECT_EQ(noProject->status, 400);
    EXPECT_EQ(noProject->body, "Missing form field: project_id");

    const auto noFile = upload({{"project_id", "prj-alpha", "", ""}}, token_);
    ASSERT_TRUE(noFile);
    EXPECT_EQ(noFile->status, 400);
    EXPECT_EQ(noFile->body, "Missing file part: file");

    const auto notMultipart = client_->Post(kUploadPath, bearer(token_), "project_id=prj-alpha",
                                            "application/x-www-form-urlencoded");
    ASSERT_TRUE(notMultipart);
    EXPECT_EQ(notMultipart->status, 400);
    EXPECT_EQ(storedFileCount(), 0u);
}

TEST_F(UploadTest, UnknownProjectOrMeetingIsNotFound) {
    const auto project =
        upload({{"project_id", "prj-nope", "", ""}, {"file", "b", "a.wav", "audio/wav"}}, token_);
    ASSERT_TRUE(project);
    EXPECT_EQ(project->status, 404);
    EXPECT_FALSE(project->body.empty());

    // A meeting of another project does not count either.
    const auto meeting = upload({{"project_id", "prj-beta", "", ""},
                                 {"meeting_id", "mtg-alpha-kickoff", "", ""},
                                 {"file", "b", "a.wav", "audio/wav"}},
                                token_);
    ASSERT_TRUE(meeting);
    EXPECT_EQ(meeting->status, 404);
    EXPECT_EQ(storedFileCount(), 0u);
}

TEST_F(UploadTest, UploadWithoutAValidTokenIsUnauthorizedAndTheConnectionStaysUsable) {
    client_->set_keep_alive(true);
    const httplib::MultipartFormDataItems items = {{"project_id", "prj-alpha", "", ""},
                                                   {"file", audioBytes(200'000), "a.wav", "audio/wav"}};
    const auto anonymous = upload(items, "");
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 401);
    const auto forged = upload(items, "forged");
    ASSERT_TRUE(forged);
    EXPECT_EQ(forged->status, 401);
    const auto accepted = upload(items, token_);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->status, 201);
    EXPECT_EQ(storedFileCount(), 1u);
}

} // namespace
} // namespace veltrane::devserver
