#pragma once

#include <QHash>
#include <QSettings>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace veltrane {

// The user's remembered choices: values under "k..." keys that survive restarts.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    [[nodiscard]] virtual std::optional<QString> string(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    // 0 when the key is missing or holds no number.
    [[nodiscard]] virtual std::int64_t integer(const QString& key) const = 0;
    virtual void setInteger(const QString& key, std::int64_t value) = 0;
    virtual void remove(const QString& key) = 0;
};

// User defaults that live only as long as the object; for tests.
class InMemoryUserDefaults : public UserDefaults {
public:
    [[nodiscard]] std::optional<QString> string(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    [[nodiscard]] std::int64_t integer(const QString& key) const override;
    void setInteger(const QString& key, std::int64_t value) override;
    void remove(const QString& key) override;

    // How many writes and removals were made, to tell "left untouched" from "rewritten".
    [[nodiscard]] int writeCount() const noexcept { return writeCount_; }

private:
    QHash<QString, QString> values_;
    int writeCount_ = 0;
};

// User defaults kept in an INI file through QSettings.
class QSettingsUserDefaults : public UserDefaults {
public:
    // The per-user file named after the application's organisation and application names.
    QSettingsUserDefaults();
    // A given INI file.
    explicit QSettingsUserDefaults(const QString& iniFilePath);

    [[nodiscard]] std::optional<QString> string(const QString& key) const override;
    void setString(const QString& key, const QString& value) override;
    [[nodiscard]] std::int64_t integer(const QString& key) const override;
    void setInteger(const QString& key, std::int64_t value) override;
    void remove(const QString& key) override;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace veltrane
