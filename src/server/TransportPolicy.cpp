#include "server/TransportPolicy.h"

#include "platform/transfer/TransportSecurityPolicy.h"

#include <QNetworkRequest>

namespace veltrane {

std::optional<PlatformError> TransportPolicy::refusalFor(const QUrl& url) const {
    // One rule for every connection the application makes, uploads included.
    const std::optional<std::string> reason = TransportSecurityPolicy::refusalReason(url);
    if (!reason) {
        return std::nullopt;
    }
    const bool plainHttp = url.scheme().compare(QStringLiteral("http"), Qt::CaseInsensitive) == 0;
    return PlatformError{kErrorDomain, plainHttp ? kInsecureSchemeRefused : kUnsupportedScheme, *reason,
                         nullptr};
}

bool TransportPolicy::isLoopbackHost(const QString& host) {
    return TransportSecurityPolicy::isLoopbackHost(host);
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
