#include "platform/transfer/TransportSecurityPolicy.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(TransportSecurityPolicyTest, HttpsAlwaysPlainHttpOnlyForLoopback) {
    EXPECT_FALSE(TransportSecurityPolicy::refusalReason(QUrl("https://uploads.example.com/api/v1")));
    EXPECT_FALSE(TransportSecurityPolicy::refusalReason(QUrl("http://127.0.0.1:8080/x")));
    EXPECT_FALSE(TransportSecurityPolicy::refusalReason(QUrl("http://127.9.0.1/x")));
    EXPECT_FALSE(TransportSecurityPolicy::refusalReason(QUrl("http://[::1]:80/x")));
    EXPECT_FALSE(TransportSecurityPolicy::refusalReason(QUrl("http://LocalHost/x")));
    const auto refused = TransportSecurityPolicy::refusalReason(QUrl("http://uploads.example.com/x"));
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->find("uploads.example.com"), std::string::npos);
    EXPECT_NE(refused->find("https://"), std::string::npos);
    EXPECT_TRUE(TransportSecurityPolicy::refusalReason(QUrl("http://10.0.0.1/x")));
    EXPECT_TRUE(TransportSecurityPolicy::refusalReason(QUrl("http://127.0.0.1.example.com/x")));
    EXPECT_TRUE(TransportSecurityPolicy::refusalReason(QUrl("ftp://127.0.0.1/x")));
    EXPECT_TRUE(TransportSecurityPolicy::refusalReason(QUrl("file:///tmp/x")));
    EXPECT_TRUE(TransportSecurityPolicy::refusalReason(QUrl()));
}

} // namespace
} // namespace veltrane
