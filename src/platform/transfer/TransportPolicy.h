#pragma once

#include "platform/core/PlatformError.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QUrl>

#include <expected>

namespace veltrane {

// The rules every connection of the application follows, server requests and uploads alike:
// - https:// to any host, with the certificate chain and host name verified against the system
//   trust store (never ignoreSslErrors);
// - plain http:// only to this computer (127.0.0.0/8, ::1, "localhost");
// - nothing else.
class TransportPolicy {
public:
    static constexpr const char* kErrorDomain = "TransportPolicy";
    static constexpr std::int64_t kInsecureSchemeRefused = 1;
    static constexpr std::int64_t kUnsupportedScheme = 2;

    // Whether `url` may be requested, or why it is refused. Check before sending: a refused URL
    // must never be handed to the network stack.
    [[nodiscard]] static std::expected<void, PlatformError> permits(const QUrl& url);
    [[nodiscard]] static bool isLoopbackHost(const QString& host);

    // The system's TLS configuration with peer verification. `extraCaCertificates` is empty in the
    // application; tests add the CA of a local server with its own certificate.
    [[nodiscard]] static QSslConfiguration
    sslConfiguration(const QList<QSslCertificate>& extraCaCertificates = {});
};

} // namespace veltrane
