#include "server/APIDateDecoder.h"

#include "server/DecodingError.h"

#include <QRegularExpression>

namespace veltrane {

namespace {

[[nodiscard]] QDateTime parseWith(const QRegularExpression& shape, const QString& text) {
    if (!shape.match(text).hasMatch()) {
        return {};
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

} // namespace

QDateTime APIDateDecoder::decode(const std::string& text) {
    static const QRegularExpression withFraction(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d+(Z|[+-]\d{2}:\d{2})$)"));
    static const QRegularExpression withoutFraction(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));

    const QString value = QString::fromStdString(text);
    for (const QRegularExpression* shape : {&withFraction, &withoutFraction}) {
        const QDateTime parsed = parseWith(*shape, value);
        if (parsed.isValid()) {
            return parsed;
        }
    }
    throw DecodingError("Unrecognized date format: " + text);
}

} // namespace veltrane
