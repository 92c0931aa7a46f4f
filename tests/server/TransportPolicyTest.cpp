#include "server/RunTask.h"
#include "server/ServerErrors.h"
#include "server/ServerTestRig.h"
#include "server/TestHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace veltrane {
namespace {

using test::RecordedRequest;
using test::runTask;
using test::ServerTestRig;
using test::TestHttpServer;

TEST(TransportPolicyTest, LoopbackHostsMayUsePlainHttpOthersMayNot) {
    const TransportPolicy policy;
    EXPECT_FALSE(policy.refusalFor(QUrl("https://example.invalid/x")));
    EXPECT_FALSE(policy.refusalFor(QUrl("http://127.0.0.1:8080/x")));
    EXPECT_FALSE(policy.refusalFor(QUrl("http://127.1.2.3/x")));
    EXPECT_FALSE(policy.refusalFor(QUrl("http://[::1]:80/x")));
    EXPECT_FALSE(policy.refusalFor(QUrl("http://LOCALHOST/x")));
    EXPECT_TRUE(policy.refusalFor(QUrl("http://example.invalid/x")));
    EXPECT_TRUE(policy.refusalFor(QUrl("http://10.0.0.1/x")));
    EXPECT_TRUE(policy.refusalFor(QUrl("http://localhost.example.com/x")));
    EXPECT_TRUE(policy.refusalFor(QUrl("ftp://127.0.0.1/x")));
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

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override { makeCertificate("/CN=127.0.0.1", "subjectAltName=IP:127.0.0.1,DNS:localhost"); }

    // A self-signed certificate and its key in the temporary folder.
    void makeCertificate(const QString& subject, const QString& altNames) {
        ASSERT_TRUE(dir.isValid());
        certificate = dir.filePath("cert.pem").toStdString();
        key = dir.filePath("key.pem").toStdString();
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                  subject, "-addext", altNames, "-keyout", QString::fromStdString(key),
                                  "-out", QString::fromStdString(certificate)});
        ASSERT_TRUE(openssl.waitForFinished(60'000));
        ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();
    }

    [[nodiscard]] QList<QSslCertificate> testCa() const {
        return QSslCertificate::fromPath(QString::fromStdString(certificate));
    }

    QTemporaryDir dir;
    std::string certificate;
    std::string key;
};

const auto kAnswerOk = [](const RecordedRequest&, httplib::Response& response) {
    response.status = 200;
    response.body = "[]";
};

TEST_F(TlsTest, SelfSignedServerIsRefusedWithoutTheTestCa) {
    TestHttpServer server(kAnswerOk, certificate, key);
    auto rig = std::make_unique<ServerTestRig>(server.baseUrl());
    try {
        (void)runTask(rig->client.send("/projects", "GET"));
        FAIL() << "an untrusted certificate must be refused";
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::networkError);
        EXPECT_NE(error.description().find("self-signed"), std::string::npos) << error.description();
    }
    EXPECT_TRUE(server.requests().empty());
    rig.reset(); // close the client's connections before the server stops
}

TEST_F(TlsTest, SelfSignedServerIsAcceptedWithTheTestCa) {
    TestHttpServer server(kAnswerOk, certificate, key);
    auto rig = std::make_unique<ServerTestRig>(server.baseUrl());
    rig->transport.addCaCertificatesForTesting(testCa());
    EXPECT_EQ(runTask(rig->client.send("/projects", "GET")), QByteArray("[]"));
    EXPECT_EQ(server.count("/api/v1/projects"), 1u);
    rig.reset();
}

TEST_F(TlsTest, HostNameIsVerifiedEvenWithTheTestCa) {
    // A trusted certificate that names another host than the one connected to.
    makeCertificate("/CN=other.example", "subjectAltName=DNS:other.example");
    TestHttpServer server(kAnswerOk, certificate, key);
    auto rig = std::make_unique<ServerTestRig>(server.baseUrl());
    rig->transport.addCaCertificatesForTesting(testCa());
    try {
        (void)runTask(rig->client.send("/projects", "GET"));
        FAIL() << "a certificate for another host must be refused";
    } catch (const APIError& error) {
        EXPECT_EQ(error.kind(), APIError::Kind::networkError);
        EXPECT_NE(error.description().find("host name"), std::string::npos) << error.description();
    }
    EXPECT_TRUE(server.requests().empty());
    rig.reset();
}

} // namespace
} // namespace veltrane
