#include "server/Utf8Text.h"

#include <QStringDecoder>

namespace veltrane {

std::optional<std::string> utf8Text(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // decode() is lazy: the conversion (and the error check) happens when the result becomes a QString.
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return std::string(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

} // namespace veltrane
