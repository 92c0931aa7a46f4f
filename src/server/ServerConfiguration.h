#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace veltrane {

// Where the base URL in use came from, weakest first.
enum class ServerSource { builtIn, systemPreset, user, environment };

// The one server the application talks to. The base URL comes, strongest first, from
// VELTRANE_SERVER_URL, the user's own choice, the organisation's preset in the system-wide
// settings (`serverURL` under [General] in Veltrane/VeltraneRecorder.conf in the system
// configuration folders, /etc/xdg by default) and the built-in default. A user's choice may be
// changed while the application runs, unless the environment variable fixes the server.
class ServerConfiguration {
public:
    static constexpr const char* kDefaultBaseURLText = "https://recorder.veltrane.example";
    // Development and tests point the application at another server with this variable.
    static constexpr const char* kBaseURLEnvironmentVariable = "VELTRANE_SERVER_URL";
    // The key of the preset in the system-wide settings.
    static constexpr const char* kPresetKey = "serverURL";
    // The key of the user's choice in the user defaults.
    static constexpr const char* kUserChoiceKey = "kServerURL";

    explicit ServerConfiguration(std::optional<QUrl> baseURL, ServerSource source = ServerSource::environment)
        : baseURL_(std::move(baseURL)), source_(source) {}

    // Picks the base URL from the environment variable, the user's choice, the system preset and
    // the built-in default (the first one given and not blank). Throws std::invalid_argument when
    // the environment variable is not a usable URL; an unusable choice or preset is skipped with a
    // warning line.
    [[nodiscard]] static ServerConfiguration resolve(const QString& environmentValue,
                                                     const std::optional<QString>& userChoice,
                                                     const std::optional<QString>& systemPreset);
    // resolve() with VELTRANE_SERVER_URL, `userChoice` and the system-wide preset.
    [[nodiscard]] static ServerConfiguration fromEnvironment(const std::optional<QString>& userChoice = {});
    // The organisation's preset: `serverURL` in the system scope of Qt's settings (honours
    // XDG_CONFIG_DIRS); absent when there is none.
    [[nodiscard]] static std::optional<QString> systemPreset();
    [[nodiscard]] static QUrl defaultBaseURL();
    // Parses a base URL text; throws std::invalid_argument unless it is an absolute https URL, or
    // an http URL to this computer, with one of these messages (see filledMessage).
    [[nodiscard]] static QUrl parseBaseURL(const QString& text);
    static constexpr const char* kUnusableURLMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "Not a usable server base URL: %1");
    static constexpr const char* kPlainHttpMessage = QT_TRANSLATE_NOOP(
        "veltrane::Messages", "Plain http:// is only allowed to this computer; use https:// for %1");

    [[nodiscard]] const std::optional<QUrl>& baseURL() const noexcept { return baseURL_; }
    [[nodiscard]] ServerSource source() const noexcept { return source_; }
    // The base URL as shown to the user: the host, with the scheme when it is not https and the
    // port when there is one.
    [[nodiscard]] QString displayText() const;
    // Whether the user may choose another server (not while the environment variable fixes it).
    [[nodiscard]] bool isChangeable() const noexcept { return source_ != ServerSource::environment; }
    // Uses the user's choice from now on. Throws std::invalid_argument as parseBaseURL() does.
    void choose(const QString& text);

    // The base URL with "/api/v1" appended; absent without a base URL.
    [[nodiscard]] std::optional<QUrl> apiBaseURL() const;

    // `url` with `path` (beginning with "/") appended to its path, without doubling slashes.
    [[nodiscard]] static QUrl appendingPath(const QUrl& url, const QString& path);

private:
    std::optional<QUrl> baseURL_;
    ServerSource source_ = ServerSource::environment;
};

} // namespace veltrane
