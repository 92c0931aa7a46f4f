#include "platform/core/UUID.h"

#include <QUuid>

namespace veltrane {

std::string makeUUIDString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

} // namespace veltrane
