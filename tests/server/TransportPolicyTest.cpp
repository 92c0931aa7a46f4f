// Plain HTTP only to this computer, TLS only with a trusted certificate.
#include "devserver/DevServer.h"
#include "support/RunTask.h"
#include "support/ServerTestRig.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(TransportPolicyTest, LoopbackHostsMayUsePlainHttpOthersMayNot) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"https://example.invalid/x", false}, {"http://127.0.0.1:8080/x", false},
        {"http://127.1.2.3/x", false},        {"http://[::1]:80/x", false},
        {"http://LOCALHOST/x", false},        {"http://example.invalid/x", true},
        {"http://10.0.0.1/x", true},          {"http://localhost.example.com/x", true},
        {"ftp://127.0.0.1/x", true},
    };
    for (const auto& [url, refused] : cases) {
        EXPECT_EQ(!TransportPolicy::permits(QUrl(url)), refused) << url;
    }
}

TEST(TlsTest, SelfSignedServerIsRefusedUnlessItsCertificateIsTrusted) {
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                              "/CN=test", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                              dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
    ASSERT_TRUE(openssl.waitForFinished(60'000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    devserver::Options options;
    options.dataDir = folder / "data";
    options.tlsCertFile = folder / "cert.pem";
    options.tlsKeyFile = folder / "key.pem";
    options.logRequests = false;
    devserver::DevServer server(options);
    ASSERT_TRUE(server.start());
    for (const bool trusted : {false, true}) {
        test::ServerTestRig rig(QString::fromStdString(server.baseURL()));
        if (trusted) {
            rig.transport.addCaCertificatesForTesting(QSslCertificate::fromPath(dir.filePath("cert.pem")));
        }
        (void)test::runTask(rig.auth.login("demo@veltrane.test", "demo-password"));
        const AuthState& state = rig.auth.state();
        EXPECT_EQ(state.kind(), trusted ? AuthState::Kind::authenticated : AuthState::Kind::error);
        EXPECT_EQ(state.errorMessage().find("self-signed") != std::string::npos, !trusted)
            << state.errorMessage();
    } // the client's connections close before the server stops
    server.stop();
}

} // namespace
} // namespace veltrane
