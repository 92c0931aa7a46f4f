#pragma once

#include "platform/settings/UserDefaults.h"

#include <QHash>

namespace veltrane {

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

} // namespace veltrane
