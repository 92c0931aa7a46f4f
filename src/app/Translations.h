#pragma once

#include <QLocale>

namespace veltrane {

// Installs the translation of the program's texts (and of Qt's own, for the standard dialog
// buttons) that the locale's languages ask for, in their order of preference. English is the
// language the texts are written in, so an English entry before any translated language keeps
// them as they are. Call once the Qt application object exists. Returns whether a translation of
// the program's texts was installed.
bool installTranslations(const QLocale& locale = QLocale::system());

} // namespace veltrane
