#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QSize>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

// Look shared by the screens: text sizes, the named colours, symbol icons and the small busy
// indicator. Fonts are derived from the application font, so the user's font size setting scales
// every screen alike.
namespace veltrane::style {

// The symbols the screens show. Each has a freedesktop theme name, used when the user's icon
// theme has it, and a bundled drawing (":/icons/<symbol>.svg") for desktops without one.
enum class Symbol {
    display,    // "display"
    microphone, // "mic.fill"
    speaker,    // "speaker.wave.2.fill"
    warning,    // "exclamationmark.triangle.fill"
    clock,      // "clock"
    uploading,  // "arrow.up.circle"
    completed,  // "checkmark.circle.fill"
    refresh,    // "arrow.clockwise"
    add,        // "plus"
};

// The resource path of the bundled drawing, e.g. ":/icons/clock.svg".
[[nodiscard]] QString bundledIconPath(Symbol symbol);
// The theme's icon when the theme has one of the symbol's names, otherwise the bundled drawing
// tinted with `tint` (the drawings are monochrome shapes; an invalid tint leaves them black).
[[nodiscard]] QIcon symbolIcon(Symbol symbol, const QColor& tint = QColor());
// One pixmap of symbolIcon() at `sizePx` for a widget's device pixel ratio.
[[nodiscard]] QPixmap symbolPixmap(Symbol symbol, int sizePx, const QColor& tint, qreal devicePixelRatio);

// The application icon (":/icons/veltrane-recorder.svg").
[[nodiscard]] QIcon applicationIcon();
// The logo lockup (mark and name) scaled to fit `maxWidthPx`, keeping its aspect ratio. Null when
// the SVG image format plugin is missing.
[[nodiscard]] QPixmap logoPixmap(int maxWidthPx, qreal devicePixelRatio);

// Text sizes relative to the application font.
[[nodiscard]] QFont captionFont();
[[nodiscard]] QFont smallCaptionFont();
[[nodiscard]] QFont headlineFont();
// The system's fixed-pitch family at the size of `like`.
[[nodiscard]] QFont monospacedFont(const QFont& like);

// Named colours; the system tints are lighter on a dark window background.
[[nodiscard]] QColor secondaryTextColor(const QPalette& palette);
[[nodiscard]] QColor accentColor(const QPalette& palette);
[[nodiscard]] QColor redColor(const QPalette& palette);
[[nodiscard]] QColor orangeColor(const QPalette& palette);
[[nodiscard]] QColor greenColor(const QPalette& palette);

// Sets the colour a label (or any text widget) draws its text with.
void setTextColor(QWidget& widget, const QColor& color);

// The contrast between two opaque colours as defined for readable text: from 1 (same luminance)
// to 21 (black on white).
[[nodiscard]] double contrastRatio(const QColor& first, const QColor& second);
// The least contrast text on a coloured button must have against its fill.
inline constexpr double kMinimumTextContrast = 4.5;
// `fill` darkened (for light text) or lightened (for dark text) step by step until `text` on it
// reaches kMinimumTextContrast with some room for the style's gradient.
[[nodiscard]] QColor readableFill(const QColor& fill, const QColor& text);
// Gives a push button the filled look of a window's main action: `fill` (the accent when
// invalid), made readable under the palette's highlighted-text colour. The focus frame is drawn
// in the text colour, so a focused filled button shows it.
void makeProminent(QPushButton& button, const QColor& fill = QColor());
// Qt's indeterminate progress bar at a fixed size, without text: the busy indicator of the screens.
[[nodiscard]] QProgressBar* makeBusyIndicator(QSize sizePx, QWidget* parent = nullptr);

// A push button of the small control size, with caption-size text; never a default button.
[[nodiscard]] QPushButton* makeSmallButton(const QString& text, QWidget* parent = nullptr);
// A plain-text label (never read as rich text) in the given font.
[[nodiscard]] QLabel* makeLabel(const QString& text, const QFont& font, QWidget* parent = nullptr);

} // namespace veltrane::style
