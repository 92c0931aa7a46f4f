#include "platform/settings/InMemoryUserDefaults.h"

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

} // namespace veltrane
