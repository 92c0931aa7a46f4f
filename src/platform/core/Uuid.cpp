#include "platform/core/Uuid.h"

#include <QUuid>

namespace veltrane {

std::string makeUuidString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

} // namespace veltrane
