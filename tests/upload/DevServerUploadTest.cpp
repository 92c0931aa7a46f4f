#include "upload/UploadManager.h"

#include "devserver/DevServer.h"
#include "support/EventLoopWait.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>

namespace veltrane {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::optional<std::string> signIn(int port) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    const auto flow = client.Get("/self-service/login/api");
    if (!flow || flow->status != 200) {
        return std::nullopt;
    }
    const std::string flowId = nlohmann::json::parse(flow->body).at("id").get<std::string>();
    const nlohmann::json credentials{
        {"method", "password"}, {"identifier", "demo@veltrane.test"}, {"password", "demo-password"}};
    const auto session =
        client.Post("/self-service/login?flow=" + flowId, credentials.dump(), "application/json");
    if (!session || session->status != 200) {
        return std::nullopt;
    }
    return nlohmann::json::parse(session->body).at("session_token").get<std::string>();
}

// Against the local stand-in server: what it stores is the chunk file, byte for byte.
TEST(UploadManagerWithDevServer, StoredFilesAreByteIdenticalToTheChunks) {
    QTemporaryDir temp;
    const fs::path root = temp.path().toStdString();
    devserver::Options options;
    options.dataDir = root / "server-data";
    options.logRequests = false;
    devserver::DevServer server(options);
    ASSERT_TRUE(server.start());
    const auto token = signIn(server.port());
    ASSERT_TRUE(token);

    const fs::path chunks = root / "chunks";
    fs::create_directories(chunks);
    std::string wav(5 * 1024 * 1024 + 11, '\0');
    for (std::size_t i = 0; i < wav.size(); ++i) {
        wav[i] = static_cast<char>((i * 31 + i / 7) & 0xff);
    }
    std::ofstream(chunks / "Kickoff 001.wav", std::ios::binary) << wav;
    std::ofstream(chunks / "Beta 001.m4a", std::ios::binary) << std::string("m4a\r\n--Boundary-x\0", 19);

    UploadManager manager(root / "app-data");
    manager.setApiBaseUrlProvider(
        [&] { return std::optional<QUrl>(QUrl(QString::fromStdString(server.baseUrl() + "/api/v1"))); });
    manager.setChunkDirectoryProvider([&] { return std::optional<fs::path>(chunks); });
    manager.setTokenProvider([&] { return token; });
    manager.enqueue("Kickoff 001.wav", "prj-alpha", "Alpha", "mtg-alpha-kickoff", "Kickoff", 300.0);
    manager.enqueue("Beta 001.m4a", "prj-beta", "Beta", std::nullopt, std::nullopt, 1.0);
    ASSERT_TRUE(test::waitUntil([&] { return manager.isSettled(); }, std::chrono::seconds(60)));
    for (const UploadJob& job : manager.jobs()) {
        EXPECT_EQ(job.state, UploadState::completed) << job.filename << ": " << job.lastError.value_or("");
    }
    EXPECT_EQ(readFile(options.dataDir / "prj-alpha" / "mtg-alpha-kickoff" / "Kickoff 001.wav"), wav);
    EXPECT_EQ(readFile(options.dataDir / "prj-beta" / "no-meeting" / "Beta 001.m4a"),
              readFile(chunks / "Beta 001.m4a"));
    server.stop();
}

} // namespace
} // namespace veltrane
