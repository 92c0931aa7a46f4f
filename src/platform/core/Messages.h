#pragma once

#include <QString>
#include <QStringList>

namespace veltrane {

// The messages the services put together from a fixed text and parts ("Chunk writer failed: %1")
// are written, stored and logged in English, from a template marked for translation where it is
// defined (QT_TRANSLATE_NOOP("veltrane::Messages", …)). Where such a message is shown, the window
// and the command line find its template again and show it in the locale's language, each part
// shown in turn (app/Translations.h), so a template's parts must never be cut off.
//
// This puts the parts into a template in one pass: "%1", "%2"… stand for parts[0], parts[1]…
// wherever the (perhaps translated) template places them, and a part's own "%" signs stay as
// they are.
[[nodiscard]] QString filledMessage(const QString& templateText, const QStringList& parts);

} // namespace veltrane
