#pragma once

#include <QUrl>

#include <optional>
#include <string>

namespace veltrane {

// Which URLs a transfer may go to: https:// to any host (certificates and host names are
// verified against the system trust store), plain http:// only to a loopback host.
class TransportSecurityPolicy {
public:
    // Absent when the URL is allowed, otherwise the reason it is refused.
    [[nodiscard]] static std::optional<std::string> refusalReason(const QUrl& url);
    [[nodiscard]] static bool isLoopbackHost(const QString& host);
};

} // namespace veltrane
