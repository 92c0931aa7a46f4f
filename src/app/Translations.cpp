#include "app/Translations.h"

#include "assignment/AssignmentModel.h"
#include "server/AuthManager.h"
#include "server/ServerErrors.h"
#include "upload/UploadJob.h"
#include "upload/UploadManager.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QTranslator>

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
            message.pattern = QRegularExpression(QRegularExpression::anchoredPattern(pattern),
                                                 QRegularExpression::DotMatchesEverythingOption);
            built.push_back(std::move(message));
        }
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
