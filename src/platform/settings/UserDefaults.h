#pragma once

#include <QString>

#include <cstdint>
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

} // namespace veltrane
