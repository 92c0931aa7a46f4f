#include "platform/core/Log.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace veltrane {

Q_LOGGING_CATEGORY(lcApp, "veltrane.app")
Q_LOGGING_CATEGORY(lcAssignment, "veltrane.assignment")
Q_LOGGING_CATEGORY(lcCapture, "veltrane.capture")
Q_LOGGING_CATEGORY(lcDesktop, "veltrane.desktop")
Q_LOGGING_CATEGORY(lcKeychain, "veltrane.keychain")
Q_LOGGING_CATEGORY(lcRecording, "veltrane.recording")
Q_LOGGING_CATEGORY(lcServer, "veltrane.server")
Q_LOGGING_CATEGORY(lcSession, "veltrane.session")
Q_LOGGING_CATEGORY(lcStorage, "veltrane.storage")
Q_LOGGING_CATEGORY(lcUpload, "veltrane.upload")

namespace {

// Where debug and info entries go; warnings and errors always go to standard error.
std::atomic<std::FILE*> infoStream{stdout};
std::atomic<QtMessageHandler> qtHandler{nullptr};

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool isOwnCategory(const char* category) {
    return category != nullptr && std::strncmp(category, "veltrane.", 9) == 0;
}

void writeEntry(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!isOwnCategory(context.category)) {
        if (const QtMessageHandler handler = qtHandler.load()) {
            handler(type, context, message);
        }
        return;
    }
    QByteArray entry = message.toUtf8();
    entry.append('\n');
    std::FILE* stream =
        type == QtDebugMsg || type == QtInfoMsg ? infoStream.load(std::memory_order_relaxed) : stderr;
    // stdio locks the stream for the duration of one call.
    std::fwrite(entry.constData(), 1, static_cast<std::size_t>(entry.size()), stream);
}

// Hands one entry to Qt's logging (and so to the installed handler) unless the category has the
// level switched off.
void writeAt(QtMsgType type, const QLoggingCategory& category, std::string_view text) {
    if (!category.isEnabled(type)) {
        return;
    }
    const QMessageLogger logger(nullptr, 0, nullptr, category.categoryName());
    QDebug stream = type == QtDebugMsg     ? logger.debug()
                    : type == QtInfoMsg    ? logger.info()
                    : type == QtWarningMsg ? logger.warning()
                                           : logger.critical();
    stream.noquote().nospace() << fromUtf8(text);
}

} // namespace

void logDebug(const QLoggingCategory& category, std::string_view text) {
    writeAt(QtDebugMsg, category, text);
}

void logInfo(const QLoggingCategory& category, std::string_view text) {
    writeAt(QtInfoMsg, category, text);
}

void logWarning(const QLoggingCategory& category, std::string_view text) {
    writeAt(QtWarningMsg, category, text);
}

void logCritical(const QLoggingCategory& category, std::string_view text) {
    writeAt(QtCriticalMsg, category, text);
}

void installLogHandler() {
    // Qt answers its default handler when none was installed before.
    const QtMessageHandler previous = qInstallMessageHandler(writeEntry);
    if (previous != writeEntry) {
        qtHandler.store(previous);
    }
}

void sendLogToStandardError() {
    infoStream.store(stderr, std::memory_order_relaxed);
}

void enableLineBufferedStdout() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

} // namespace veltrane
