#include "support/LogCapture.h"

#include <QString>
#include <QtGlobal>

#include <mutex>

namespace veltrane::test {

namespace {

std::mutex capturedMutex;
std::string captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& message) {
    const std::lock_guard lock(capturedMutex);
    captured += message.toStdString();
    captured += '\n';
}

} // namespace

LogCapture::LogCapture() {
    const std::lock_guard lock(capturedMutex);
    captured.clear();
    previousHandler = qInstallMessageHandler(capture);
}

LogCapture::~LogCapture() {
    (void)text();
}

const std::string& LogCapture::text() {
    if (capturing_) {
        qInstallMessageHandler(previousHandler);
        const std::lock_guard lock(capturedMutex);
        text_ = std::move(captured);
        capturing_ = false;
    }
    return text_;
}

std::size_t LogCapture::count(const std::string& needle) {
    std::size_t found = 0;
    for (std::size_t pos = text().find(needle); pos != std::string::npos; pos = text_.find(needle, pos + 1)) {
        ++found;
    }
    return found;
}

} // namespace veltrane::test
