#include "platform/settings/UserDefaults.h"

#include <QCoreApplication>

namespace veltrane {

std::optional<QString> InMemoryUserDefaults::string(const QString& key) const {
    const auto found = values_.constFind(key);
    if (found == values_.constEnd()) {
        return std::nullopt;
    }
    return *found;
}

void InMemoryUserDefaults::setString(const QString& key, const QString& value) {
    values_.insert(key, value);
    ++writeCount_;
}

std::int64_t InMemoryUserDefaults::integer(const QString& key) const {
    return values_.value(key).toLongLong();
}

void InMemoryUserDefaults::setInteger(const QString& key, std::int64_t value) {
    values_.insert(key, QString::number(value));
    ++writeCount_;
}

void InMemoryUserDefaults::remove(const QString& key) {
    values_.remove(key);
    ++writeCount_;
}

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
