#pragma once

#include "platform/core/PlatformError.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <optional>

class QNetworkRequest;

namespace veltrane {

// The rules every request to the server follows, whoever owns the QNetworkAccessManager:
// - https:// to any host, with the certificate chain and host name verified against the system
//   trust store (never ignoreSslErrors);
// - plain http:// only to this computer (127.0.0.0/8, ::1, "localhost");
// - nothing else.
class TransportPolicy {
public:
    static constexpr const char* kErrorDomain = "TransportPolicy";
    static constexpr std::int64_t kInsecureSchemeRefused = 1;
    static constexpr std::int64_t kUnsupportedScheme = 2;

    // Absent when `url` may be requested; otherwise why it is refused. Check before sending:
    // a refused URL must never be handed to the network stack.
    [[nodiscard]] std::optional<PlatformError> refusalFor(const QUrl& url) const;
    [[nodiscard]] static bool isLoopbackHost(const QString& host);

    // The system's TLS configuration with certificate verification, plus any test CA.
    [[nodiscard]] QSslConfiguration sslConfiguration() const;
    // Gives `request` the TLS configuration above.
    void applyTo(QNetworkRequest& request) const;

    // For tests only: trusts these CA certificates in addition to the system store, so a local
    // test server with its own certificate can be reached. The application never calls it.
    void addCaCertificatesForTesting(const QList<QSslCertificate>& certificates);

private:
    QList<QSslCertificate> extraCaCertificates_;
};

} // namespace veltrane
