#pragma once

#include <QByteArrayView>

#include <optional>
#include <string>

namespace veltrane {

// `bytes` as text when they are valid UTF-8, absent otherwise.
[[nodiscard]] std::optional<std::string> utf8Text(QByteArrayView bytes);

} // namespace veltrane
