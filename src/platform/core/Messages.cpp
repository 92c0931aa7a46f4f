#include "platform/core/Messages.h"

namespace veltrane {

QString filledMessage(const QString& templateText, const QStringList& parts) {
    QString text;
    for (qsizetype i = 0; i < templateText.size(); ++i) {
        const int number = i + 1 < templateText.size() ? templateText[i + 1].digitValue() : -1;
        if (templateText[i] == u'%' && number >= 1 && number <= parts.size()) {
            text += parts[number - 1];
            ++i;
        } else {
            text += templateText[i];
        }
    }
    return text;
}

} // namespace veltrane
