#include "platform/settings/QSettingsUserDefaults.h"

#include <QCoreApplication>

namespace veltrane {

QSettingsUserDefaults::QSettingsUserDefaults()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QCoreApplication::organizationName(),
                                            QCoreApplication::applicationName())) {}

QSettingsUserDefaults::QSettingsUserDefaults(const QString& iniFilePath)
    : settings_(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat)) {}

std::optional<QString> QSettingsUserDefaults::string(const QString& key) const {
    const QVariant value = settings_->value(key);
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString();
}

void QSettingsUserDefaults::setString(const QString& key, const QString& value) {
    settings_->setValue(key, value);
    settings_->sync();
}

std::int64_t QSettingsUserDefaults::integer(const QString& key) const {
    return settings_->value(key).toLongLong();
}

void QSettingsUserDefaults::setInteger(const QString& key, std::int64_t value) {
    settings_->setValue(key, static_cast<qlonglong>(value));
    settings_->sync();
}

void QSettingsUserDefaults::remove(const QString& key) {
    settings_->remove(key);
    settings_->sync();
}

} // namespace veltrane
