#include "server/ServerConfiguration.h"

#include <QtGlobal>

#include <stdexcept>

namespace veltrane {

ServerConfiguration ServerConfiguration::fromEnvironment() {
    const QString overrideText = qEnvironmentVariable(kBaseURLEnvironmentVariable).trimmed();
    if (overrideText.isEmpty()) {
        return ServerConfiguration(defaultBaseURL());
    }
    return ServerConfiguration(parseBaseURL(overrideText));
}

QUrl ServerConfiguration::defaultBaseURL() {
    static const QUrl url = parseBaseURL(QString::fromLatin1(kDefaultBaseURLText));
    return url;
}

QUrl ServerConfiguration::parseBaseURL(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (scheme != "https" && scheme != "http")) {
        throw std::invalid_argument("Not a usable server base URL: " + text.toStdString());
    }
    return url;
}

std::optional<QUrl> ServerConfiguration::apiBaseURL() const {
    if (!baseURL_) {
        return std::nullopt;
    }
    return appendingPath(*baseURL_, QStringLiteral("/api/v1"));
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
