#include "platform/transfer/TransportPolicy.h"

#include <QHostAddress>

namespace veltrane {

bool TransportPolicy::isLoopbackHost(const QString& host) {
    if (host.compare("localhost", Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::expected<void, PlatformError> TransportPolicy::permits(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) {
        return std::unexpected(PlatformError{kErrorDomain, kUnsupportedScheme,
                                             "Invalid URL: " + url.toString().toStdString(), nullptr});
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == "https") {
        return {};
    }
    if (scheme == "http") {
        if (isLoopbackHost(url.host())) {
            return {};
        }
        return std::unexpected(PlatformError{kErrorDomain, kInsecureSchemeRefused,
                                             "Refusing plain HTTP to " + url.host().toStdString() +
                                                 ": http:// is only allowed to this computer; use https://",
                                             nullptr});
    }
    return std::unexpected(
        PlatformError{kErrorDomain, kUnsupportedScheme,
                      "Unsupported URL scheme \"" + scheme.toStdString() + "\": use https://", nullptr});
}

QSslConfiguration TransportPolicy::sslConfiguration(const QList<QSslCertificate>& extraCaCertificates) {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!extraCaCertificates.isEmpty()) {
        configuration.addCaCertificates(extraCaCertificates);
    }
    return configuration;
}

} // namespace veltrane
