#include "server/ServerConfiguration.h"

#include "platform/core/Log.h"
#include "platform/core/Messages.h"
#include "platform/transfer/TransportPolicy.h"

#include <QSettings>
#include <QtGlobal>

#include <stdexcept>

namespace veltrane {

ServerConfiguration ServerConfiguration::resolve(const QString& environmentValue,
                                                 const std::optional<QString>& userChoice,
                                                 const std::optional<QString>& systemPreset) {
    if (!environmentValue.trimmed().isEmpty()) {
        return ServerConfiguration(parseBaseURL(environmentValue.trimmed()), ServerSource::environment);
    }
    const std::pair<const std::optional<QString>*, ServerSource> candidates[] = {
        {&userChoice, ServerSource::user}, {&systemPreset, ServerSource::systemPreset}};
    for (const auto& [text, source] : candidates) {
        if (!text->has_value() || (*text)->trimmed().isEmpty()) {
            continue;
        }
        try {
            return ServerConfiguration(parseBaseURL((*text)->trimmed()), source);
        } catch (const std::invalid_argument& error) {
            logWarning(lcServer(),
                       std::string("⚠️ ") + error.what() +
                           (source == ServerSource::user ? " (your choice)" : " (system preset)") +
                           "; ignored");
        }
    }
    return ServerConfiguration(defaultBaseURL(), ServerSource::builtIn);
}

ServerConfiguration ServerConfiguration::fromEnvironment(const std::optional<QString>& userChoice) {
    return resolve(qEnvironmentVariable(kBaseURLEnvironmentVariable), userChoice, systemPreset());
}

std::optional<QString> ServerConfiguration::systemPreset() {
    const QSettings system(QSettings::NativeFormat, QSettings::SystemScope, QStringLiteral("Veltrane"),
                           QStringLiteral("VeltraneRecorder"));
    const QVariant value = system.value(QString::fromLatin1(kPresetKey));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString();
}

QUrl ServerConfiguration::defaultBaseURL() {
    static const QUrl url = parseBaseURL(QString::fromLatin1(kDefaultBaseURLText));
    return url;
}

QUrl ServerConfiguration::parseBaseURL(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() ||
        (scheme != "https" && scheme != "http")) {
        throw std::invalid_argument(filledMessage(kUnusableURLMessage, {text}).toStdString());
    }
    if (scheme == "http" && !TransportPolicy::isLoopbackHost(url.host())) {
        throw std::invalid_argument(filledMessage(kPlainHttpMessage, {url.host()}).toStdString());
    }
    return url;
}

QString ServerConfiguration::displayText() const {
    if (!baseURL_) {
        return {};
    }
    QString text = baseURL_->host();
    if (baseURL_->port() != -1) {
        text += QLatin1Char(':') + QString::number(baseURL_->port());
    }
    if (baseURL_->scheme().toLower() != QLatin1String("https")) {
        text.prepend(baseURL_->scheme() + QStringLiteral("://"));
    }
    return text;
}

void ServerConfiguration::choose(const QString& text) {
    baseURL_ = parseBaseURL(text);
    source_ = ServerSource::user;
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
