#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

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

QString shownMessage(const std::string& message) {
    return QCoreApplication::translate("veltrane::Messages", message.c_str());
}

} // namespace veltrane
