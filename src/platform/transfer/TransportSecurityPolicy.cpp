#include "platform/transfer/TransportSecurityPolicy.h"

#include <QHostAddress>

namespace veltrane {

bool TransportSecurityPolicy::isLoopbackHost(const QString& host) {
    if (host.compare("localhost", Qt::CaseInsensitive) == 0) {
        return true;
    }
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

std::optional<std::string> TransportSecurityPolicy::refusalReason(const QUrl& url) {
    if (!url.isValid() || url.host().isEmpty()) {
        return "Invalid URL: " + url.toString().toStdString();
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == "https") {
        return std::nullopt;
    }
    if (scheme == "http") {
        if (isLoopbackHost(url.host())) {
            return std::nullopt;
        }
        return "Refusing plain HTTP to " + url.host().toStdString() +
               ": http:// is only allowed to this computer; use https://";
    }
    return "Unsupported URL scheme \"" + scheme.toStdString() + "\": use https://";
}

} // namespace veltrane
