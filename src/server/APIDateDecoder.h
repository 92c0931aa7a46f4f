#pragma once

#include <QDateTime>

#include <string>

namespace veltrane {

// Reads the server's date-time values: an internet date-time (RFC 3339) with fractional seconds,
// or without them. Anything else throws DecodingError "Unrecognized date format: <text>".
class APIDateDecoder {
public:
    [[nodiscard]] static QDateTime decode(const std::string& text);
};

} // namespace veltrane
