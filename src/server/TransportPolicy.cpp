#include "server/TransportPolicy.h"

#include <QHostAddress>
#include <QNetworkRequest>

namespace veltrane {

std::optional<PlatformError> TransportPolicy::refusalFor(const QUrl& url) const {
    const QString scheme = url.scheme().toLower();
    if (scheme == "https") {
        return std::nullopt;
    }
    if (scheme == "http") {
        if (isLoopbackHost(url.host())) {
            return std::nullopt;
        }
        return PlatformError{kErrorDomain, kInsecureSchemeRefused,
                             "Refusing an unencrypted connection to " + url.host().toStdString() +
                                 ": plain http:// is only allowed to this computer, use https://",
                             nullptr};
    }
    return PlatformError{kErrorDomain, kUnsupportedScheme,
                         "Unsupported URL scheme \"" + url.scheme().toStdString() + "\": use https://",
                         nullptr};
}

bool TransportPolicy::isLoopbackHost(const QString& host) {
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QSslConfiguration TransportPolicy::sslConfiguration() const {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!extraCaCertificates_.isEmpty()) {
        configuration.addCaCertificates(extraCaCertificates_);
    }
    return configuration;
}

void TransportPolicy::applyTo(QNetworkRequest& request) const {
    request.setSslConfiguration(sslConfiguration());
}

void TransportPolicy::addCaCertificatesForTesting(const QList<QSslCertificate>& certificates) {
    extraCaCertificates_.append(certificates);
}

} // namespace veltrane
