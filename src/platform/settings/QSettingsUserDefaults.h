#pragma once

#include "platform/settings/UserDefaults.h"

#include <QSettings>

#include <memory>

namespace veltrane {

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
