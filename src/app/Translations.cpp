#include "app/Translations.h"

#include "assignment/AssignmentModel.h"
#include "server/AuthManager.h"
#include "server/ServerConfiguration.h"
#include "server/ServerErrors.h"
#include "storage/RecordingDestination.h"
#include "storage/StorageErrors.h"
#include "upload/UploadJob.h"
#include "upload/UploadManager.h"
#include "upload/UploadQueueFile.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace veltrane {

namespace {

// The translations are compiled into the program (`:/i18n/veltrane_de.qm`), Qt's own are
// installed with Qt (Debian: qt6-translations-l10n) and used when present.
constexpr auto kOwnFolder = ":/i18n";

bool installOne(const QString& baseName, const QString& language, const QString& folder) {
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    if (!translator->load(baseName + QLatin1Char('_') + language, folder)) {
        return false;
    }
    return QCoreApplication::installTranslator(translator.release());
}

} // namespace

bool installTranslations(const QLocale& locale) {
    for (const QString& uiLanguage : locale.uiLanguages()) {
        const QLocale language(uiLanguage);
        if (language.language() == QLocale::English || language.language() == QLocale::C) {
            return false;
        }
        // Qt lists "de-DE" and then "de" for a German locale of Germany.
        const QString name = QString(uiLanguage).replace(QLatin1Char('-'), QLatin1Char('_'));
        if (installOne(QStringLiteral("veltrane"), name, QString::fromLatin1(kOwnFolder))) {
            (void)installOne(QStringLiteral("qtbase"), name,
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath));
            return true;
        }
    }
    return false;
}

namespace {

// The messages the services put together from a fixed text and parts. The recorder's errors prefix
// a description (AudioRecorder.cpp); the others are the services' own template constants.
constexpr const char* kComposedMessages[] = {
    kUnreachableServerMessage,
    kServerTimeoutMessage,
    kServerErrorMessage,
    kDecodingErrorMessage,
    AuthManager::kSignInServiceFailedMessage,
    AuthManager::kSessionNotStoredMessage,
    UploadJob::kServerWaitMessages[0][0],
    UploadJob::kServerWaitMessages[0][1],
    UploadJob::kServerWaitMessages[1][0],
    UploadJob::kServerWaitMessages[1][1],
    UploadManager::kNoAnswerForADayMessage,
    UploadManager::kBodyUnwritableMessage,
    UploadManager::kQueueUnsavedMessage,
    UploadManager::kQueueUnreadableMessage,
    UploadManager::kOriginalKeptMessage,
    UploadManager::kOriginalNotKeptMessage,
    UploadManager::kServerAnsweredMessages[0],
    UploadManager::kServerAnsweredMessages[1],
    UploadManager::kServerAnsweredMessages[2],
    UploadManager::kServerAnsweredMessages[3],
    UploadQueueFile::kDamageMessages[0],
    UploadQueueFile::kDamageMessages[1],
    UploadQueueFile::kDamageMessages[2],
    UploadQueueFile::kDamageMessages[3],
    UploadQueueFile::kDamageMessages[4],
    UploadQueueLock::kUnwritableMessage,
    UploadQueueLock::kInUseMessage,
    UploadQueueLock::kLockFailedMessage,
    ServerConfiguration::kUnusableURLMessage,
    ServerConfiguration::kPlainHttpMessage,
    ChunkWriterError::kWriterFailedMessage,
    ChunkWriterError::kNameCollisionMessage,
    RecordingDestination::kReopenFailedMessage,
    RecordingDestination::kNotWritableMessage,
    AssignmentModel::kMeetingsUnloadedMessage,
    QT_TRANSLATE_NOOP("veltrane::Messages", "Source Error: %1"),
    QT_TRANSLATE_NOOP("veltrane::Messages", "Setup Error: %1"),
    QT_TRANSLATE_NOOP("veltrane::Messages", "Capture Error: %1"),
    QT_TRANSLATE_NOOP("veltrane::Messages", "Stream Stopped: %1"),
    QT_TRANSLATE_NOOP("veltrane::Messages", "Recording failed: %1"),
    QT_TRANSLATE_NOOP("veltrane::Messages", "Chunk error: %1"),
};

// A composed message's template as a pattern that finds its parts again in the English text.
struct ComposedMessage {
    const char* source = nullptr;
    QRegularExpression pattern;
    std::vector<int> partNumbers; // of the pattern's groups in turn: "%2" is 2
    qsizetype fixedLength = 0;    // of the template's own text around the parts
};

const std::vector<ComposedMessage>& composedMessages() {
    static const std::vector<ComposedMessage> messages = [] {
        static const QRegularExpression placeholder(QStringLiteral("%([1-9])"));
        std::vector<ComposedMessage> built;
        for (const char* source : kComposedMessages) {
            const QString text = QString::fromUtf8(source);
            ComposedMessage message;
            message.source = source;
            QString pattern;
            qsizetype done = 0;
            for (const QRegularExpressionMatch& match : placeholder.globalMatch(text)) {
                pattern += QRegularExpression::escape(text.mid(done, match.capturedStart() - done)) +
                           QStringLiteral("(.*?)");
                message.partNumbers.push_back(match.captured(1).toInt());
                done = match.capturedEnd();
            }
            pattern += QRegularExpression::escape(text.mid(done));
            message.fixedLength = text.size() - 2 * static_cast<qsizetype>(message.partNumbers.size());
            message.pattern = QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                                                 QRegularExpression::DotMatchesEverythingOption);
            built.push_back(std::move(message));
        }
        // Where two templates fit a message ("Server answered %1" fits every answer), the one
        // with more text of its own is the message's.
        std::ranges::stable_sort(built, std::greater<>(), &ComposedMessage::fixedLength);
        return built;
    }();
    return messages;
}

} // namespace

QString shownMessage(const std::string& message) {
    const QString whole = QCoreApplication::translate("veltrane::Messages", message.c_str());
    const QString english = QString::fromStdString(message);
    if (whole != english) {
        return whole;
    }
    for (const ComposedMessage& composed : composedMessages()) {
        const QRegularExpressionMatch match = composed.pattern.match(english);
        if (!match.hasMatch()) {
            continue;
        }
        QStringList parts(9);
        for (std::size_t group = 0; group < composed.partNumbers.size(); ++group) {
            parts[composed.partNumbers[group] - 1] =
                shownMessage(match.captured(static_cast<int>(group) + 1).toStdString());
        }
        return filledMessage(QCoreApplication::translate("veltrane::Messages", composed.source), parts);
    }
    return english;
}

} // namespace veltrane
