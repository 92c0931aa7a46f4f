#include "devserver/DevServer.h"
#include "server/ServerErrors.h"
#include "support/RunTask.h"
#include "support/ServerTestRig.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::runTask;
using test::ServerTestRig;

TEST(TransportPolicyTest, LoopbackHostsMayUsePlainHttpOthersMayNot) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"https://example.invalid/x", false}, {"http://127.0.0.1:8080/x", false},
        {"http://127.1.2.3/x", false},        {"http://[::1]:80/x", false},
        {"http://LOCALHOST/x", false},        {"http://example.invalid/x", true},
        {"http://10.0.0.1/x", true},          {"http://localhost.example.com/x", true},
        {"ftp://127.0.0.1/x", true},
    };
    const TransportPolicy policy;
    for (const auto& [url, refused] : cases) {
        EXPECT_EQ(policy.refusalFor(QUrl(url)).has_value(), refused) << url;
    }
}

TEST(TransportPolicyTest, PlainHttpToAnotherHostIsRefusedBeforeAnyConnection) {
    ServerTestRig rig(QStringLiteral("http://example.invalid"));
    rig.storeToken("secret");
    try {
        (void)runTask(rig.client.send("/projects", "GET"));
        FAIL() << "expected a refusal";
    } catch (const APIError& error) {
        ASSERT_EQ(error.kind(), APIError::Kind::networkError);
        const auto* transport = dynamic_cast<const TransportError*>(error.underlying().get());
        ASSERT_NE(transport, nullptr);
        EXPECT_EQ(transport->platformError().domain, TransportPolicy::kErrorDomain);
        EXPECT_EQ(transport->platformError().code, TransportPolicy::kInsecureSchemeRefused);
        EXPECT_NE(error.description().find("example.invalid"), std::string::npos);
    }
    // Sign-in is refused the same way, with the refusal as its message.
    (void)runTask(rig.auth.login("a@b", "pw"));
    EXPECT_EQ(rig.auth.state().kind(), AuthState::Kind::error);
    EXPECT_NE(rig.auth.state().errorMessage().find("http://"), std::string::npos);
}

// The stand-in server speaking HTTPS with a self-signed certificate: refused until the client trusts
// the certificate.
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
        ServerTestRig rig(QString::fromStdString(server.baseURL()));
        if (trusted) {
            rig.transport.addCaCertificatesForTesting(QSslCertificate::fromPath(dir.filePath("cert.pem")));
        }
        (void)runTask(rig.auth.login("demo@veltrane.test", "demo-password"));
        const AuthState& state = rig.auth.state();
        EXPECT_EQ(state.kind(), trusted ? AuthState::Kind::authenticated : AuthState::Kind::error);
        EXPECT_EQ(state.errorMessage().find("self-signed") != std::string::npos, !trusted)
            << state.errorMessage();
    } // the client's connections close before the server stops
    server.stop();
}

} // namespace
} // namespace veltrane
