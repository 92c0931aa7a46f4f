#include "TempDir.h"

#include "devserver/DevServer.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace veltrane::devserver {
namespace {

// A self-signed certificate for 127.0.0.1, made with the openssl tool.
[[nodiscard]] bool makeCertificate(const std::filesystem::path& folder) {
    const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                                " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                                (folder / "key.pem").string() + "' -out '" + (folder / "cert.pem").string() +
                                "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

TEST(TlsTest, ServesTheLoginFlowOverHttpsToAClientThatTrustsTheCertificate) {
    TempDir folder;
    ASSERT_TRUE(makeCertificate(folder.path()));
    Options options;
    options.dataDir = folder.path() / "data";
    options.logRequests = false;
    options.keepAliveTimeoutSeconds = 1;
    options.tlsCertFile = folder.path() / "cert.pem";
    options.tlsKeyFile = folder.path() / "key.pem";
    DevServer server(options);
    ASSERT_TRUE(server.start());
    EXPECT_EQ(server.baseUrl(), "https://127.0.0.1:" + std::to_string(server.port()));

    {
        httplib::SSLClient client("127.0.0.1", server.port());
        client.set_ca_cert_path((folder.path() / "cert.pem").c_str());
        client.enable_server_certificate_verification(true);
        const auto flow = client.Get("/self-service/login/api");
        ASSERT_TRUE(flow) << httplib::to_string(flow.error());
        ASSERT_EQ(flow->status, 200);
        const auto body = nlohmann::json::parse(flow->body);
        EXPECT_EQ(body.at("ui").at("action"),
                  server.baseUrl() + "/self-service/login?flow=" + body.at("id").get<std::string>());
    }
    {
        httplib::SSLClient untrusting("127.0.0.1", server.port());
        untrusting.enable_server_certificate_verification(true);
        untrusting.set_ca_cert_path((folder.path() / "missing.pem").c_str());
        EXPECT_FALSE(untrusting.Get("/self-service/login/api"));
    }
    server.stop();
}

TEST(TlsTest, UnreadableCertificateMakesStartFail) {
    TempDir folder;
    Options options;
    options.dataDir = folder.path() / "data";
    options.logRequests = false;
    options.tlsCertFile = folder.path() / "none.pem";
    options.tlsKeyFile = folder.path() / "none-key.pem";
    DevServer server(options);
    EXPECT_FALSE(server.start());
}

} // namespace
} // namespace veltrane::devserver
