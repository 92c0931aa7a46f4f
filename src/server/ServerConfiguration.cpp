#include "server/ServerConfiguration.h"

#include <QtGlobal>

#include <stdexcept>

namespace veltrane {

ServerConfiguration ServerConfiguration::fromEnvironment() {
    const QString overrideText = qEnvironmentVariable(kBaseUrlEnvironmentVariable).trimmed();
    if (overrideText.isEmpty()) {
        return ServerConfiguration(defaultBaseUrl());
    }
    return ServerConfiguration(parseBaseUrl(overrideText));
}

QUrl ServerConfiguration::defaultBaseUrl() {
    static const QUrl url = parseBaseUrl(QString::fromLatin1(kDefaultBaseUrlText));
    return url;
}

QUrl ServerConfiguration::parseBaseUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (scheme != "https" && scheme != "http")) {
        throw std::invalid_argument("Not a usable server base URL: " + text.toStdString());
    }
    return url;
}

std::optional<QUrl> ServerConfiguration::apiBaseUrl() const {
    if (!baseUrl_) {
        return std::nullopt;
    }
    return appendingPath(*baseUrl_, QStringLiteral("/api/v1"));
}

QUrl ServerConfiguration::appendingPath(const QUrl& url, const QString& path) {
    QString basePath = url.path(QUrl::FullyEncoded);
    while (basePath.endsWith('/')) {
        basePath.chop(1);
    }
    QString piece = path;
    if (!piece.startsWith('/')) {
        piece.prepend('/');
    }
    QUrl result = url;
    result.setPath(basePath + piece, QUrl::TolerantMode);
    return result;
}

} // namespace veltrane
