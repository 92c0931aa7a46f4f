#pragma once

#include <QLocale>

#include <string>

namespace veltrane {

// Installs the translation of the program's texts (and of Qt's own, for the standard dialog
// buttons) that the locale's languages ask for, in their order of preference. English is the
// language the texts are written in, so an English entry before any translated language keeps
// them as they are. Call once the Qt application object exists. Returns whether a translation of
// the program's texts was installed.
bool installTranslations(const QLocale& locale = QLocale::system());

// A message of the services as shown to people. Their fixed messages are written, and logged, in
// English and marked for translation where they are written (QT_TRANSLATE_NOOP("veltrane::Messages",
// …)); such a message comes back translated, any other text as it is. A message put together from
// a template and parts ("Couldn't reach the server at %1 (%2).") comes back with its template
// translated and each part shown in turn, so "Source Error: Invalid source configuration" reads
// German through and through.
[[nodiscard]] QString shownMessage(const std::string& message);

} // namespace veltrane
