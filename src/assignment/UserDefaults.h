#pragma once

#include <QString>

#include <optional>

namespace veltrane {

// The user's remembered choices: string values under "k..." keys that survive restarts.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    [[nodiscard]] virtual std::optional<QString> string(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
    virtual void remove(const QString& key) = 0;
};

} // namespace veltrane
