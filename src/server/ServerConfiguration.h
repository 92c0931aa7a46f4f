#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace veltrane {

// The one server the application talks to. The base URL is fixed at construction.
class ServerConfiguration {
public:
    static constexpr const char* kDefaultBaseURLText = "https://recorder.veltrane.example";
    // Development and tests point the application at another server with this variable.
    static constexpr const char* kBaseURLEnvironmentVariable = "VELTRANE_SERVER_URL";

    explicit ServerConfiguration(std::optional<QUrl> baseURL) : baseURL_(std::move(baseURL)) {}

    // The built-in default, or VELTRANE_SERVER_URL when it is set and not empty. Throws
    // std::invalid_argument when the variable is not an absolute http(s) URL.
    [[nodiscard]] static ServerConfiguration fromEnvironment();
    [[nodiscard]] static QUrl defaultBaseURL();
    // Parses a base URL text; throws std::invalid_argument unless it is an absolute http(s) URL.
    [[nodiscard]] static QUrl parseBaseURL(const QString& text);

    [[nodiscard]] const std::optional<QUrl>& baseURL() const noexcept { return baseURL_; }
    // The base URL with "/api/v1" appended; absent without a base URL.
    [[nodiscard]] std::optional<QUrl> apiBaseURL() const;

    // `url` with `path` (beginning with "/") appended to its path, without doubling slashes.
    [[nodiscard]] static QUrl appendingPath(const QUrl& url, const QString& path);

private:
    std::optional<QUrl> baseURL_;
};

} // namespace veltrane
