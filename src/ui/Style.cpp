#include "ui/Style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>

namespace veltrane::style {
namespace {

struct SymbolNames {
    const char* bundled;
    QStringList themeNames;
};

SymbolNames namesOf(Symbol symbol) {
    switch (symbol) {
    case Symbol::display:
        return {"display", {"video-display"}};
    case Symbol::microphone:
        return {"mic.fill", {"audio-input-microphone"}};
    case Symbol::speaker:
        return {"speaker.wave.2.fill", {"audio-volume-high"}};
    case Symbol::warning:
        return {"exclamationmark.triangle.fill", {"dialog-warning"}};
    case Symbol::clock:
        return {"clock", {"appointment-soon"}};
    case Symbol::uploading:
        return {"arrow.up.circle", {"go-up"}};
    case Symbol::completed:
        return {"checkmark.circle.fill", {"emblem-ok-symbolic", "object-select"}};
    case Symbol::refresh:
        return {"arrow.clockwise", {"view-refresh"}};
    case Symbol::add:
        return {"plus", {"list-add"}};
    }
    return {"plus", {}};
}

// The sizes (logical pixels) a tinted bundled icon is prepared at; QIcon picks the nearest.
constexpr std::array kTintedSizesPx{12, 14, 16, 20, 22, 24, 32};

QPixmap tinted(const QIcon& icon, int sizePx, qreal devicePixelRatio, const QColor& tint) {
    QPixmap pixmap = icon.pixmap(QSize(sizePx, sizePx), devicePixelRatio);
    if (pixmap.isNull() || !tint.isValid()) {
        return pixmap;
    }
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), tint);
    return pixmap;
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QFont scaledApplicationFont(double factor) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(std::max(6.0, font.pointSizeF() * factor));
    } else {
        font.setPixelSize(std::max(8, static_cast<int>(std::lround(font.pixelSize() * factor))));
    }
    return font;
}

} // namespace

QString bundledIconPath(Symbol symbol) {
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(namesOf(symbol).bundled));
}

QIcon symbolIcon(Symbol symbol, const QColor& tint) {
    for (const QString& name : namesOf(symbol).themeNames) {
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name);
        }
    }
    const QIcon bundled(bundledIconPath(symbol));
    if (!tint.isValid()) {
        return bundled;
    }
    QColor disabledTint = tint;
    disabledTint.setAlphaF(tint.alphaF() * 0.35F);
    QIcon icon;
    for (const int sizePx : kTintedSizesPx) {
        for (const qreal ratio : {1.0, 2.0}) {
            icon.addPixmap(tinted(bundled, sizePx, ratio, tint), QIcon::Normal);
            icon.addPixmap(tinted(bundled, sizePx, ratio, disabledTint), QIcon::Disabled);
        }
    }
    return icon;
}

QPixmap symbolPixmap(Symbol symbol, int sizePx, const QColor& tint, qreal devicePixelRatio) {
    for (const QString& name : namesOf(symbol).themeNames) {
        if (QIcon::hasThemeIcon(name)) {
            return QIcon::fromTheme(name).pixmap(QSize(sizePx, sizePx), devicePixelRatio);
        }
    }
    return tinted(QIcon(bundledIconPath(symbol)), sizePx, devicePixelRatio, tint);
}

QIcon applicationIcon() {
    return QIcon(QStringLiteral(":/icons/veltrane-recorder.svg"));
}

QPixmap logoPixmap(int maxWidthPx, qreal devicePixelRatio) {
    QImageReader reader(QStringLiteral(":/images/LogoLockup.svg"));
    QSize size = reader.size();
    if (!size.isValid() || size.width() <= 0) {
        return {};
    }
    size.scale(static_cast<int>(std::lround(maxWidthPx * devicePixelRatio)), QWIDGETSIZE_MAX,
               Qt::KeepAspectRatio);
    reader.setScaledSize(size);
    QPixmap pixmap = QPixmap::fromImage(reader.read());
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QFont captionFont() {
    return scaledApplicationFont(0.9);
}

QFont smallCaptionFont() {
    return scaledApplicationFont(0.82);
}

QFont headlineFont() {
    QFont font = QApplication::font();
    font.setBold(true);
    return font;
}

QFont monospacedFont(const QFont& like) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (like.pointSizeF() > 0) {
        font.setPointSizeF(like.pointSizeF());
    } else {
        font.setPixelSize(like.pixelSize());
    }
    font.setWeight(like.weight());
    return font;
}

QColor secondaryTextColor(const QPalette& palette) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55F);
    return color;
}

QColor accentColor(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

QColor redColor(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 69, 58) : QColor(215, 40, 32);
}

QColor orangeColor(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 159, 10) : QColor(201, 100, 0);
}

QColor greenColor(const QPalette& palette) {
    return isDark(palette) ? QColor(48, 209, 88) : QColor(36, 150, 60);
}

void setTextColor(QWidget& widget, const QColor& color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

namespace {

double relativeLuminance(const QColor& color) {
    const auto linear = [](float channel) {
        return channel <= 0.04045F ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

} // namespace

double contrastRatio(const QColor& first, const QColor& second) {
    const auto [darker, lighter] = std::minmax({relativeLuminance(first), relativeLuminance(second)});
    return (lighter + 0.05) / (darker + 0.05);
}

namespace {

// The lightest colour the Fusion style paints a button of `fill` with: it lightens dark fills,
// takes a quarter of their saturation away and runs a gradient that is lightest at the top.
QColor paintedButtonColor(const QColor& fill) {
    QColor painted = fill.lighter(100 + std::max(1, (180 - qGray(fill.rgb())) / 6));
    painted.setHsv(painted.hsvHue(), static_cast<int>(painted.hsvSaturation() * 0.75), painted.value());
    return painted.lighter(124);
}

} // namespace

QColor readableFill(const QColor& fill, const QColor& text) {
    constexpr double kWithMargin = kMinimumTextContrast + 0.2;
    const bool lightText = relativeLuminance(text) > 0.5;
    QColor candidate = fill.toHsl();
    for (int step = 0; step < 100 && contrastRatio(paintedButtonColor(candidate), text) < kWithMargin;
         ++step) {
        candidate.setHsl(candidate.hslHue(), candidate.hslSaturation(),
                         std::clamp(candidate.lightness() + (lightText ? -4 : 4), 0, 255));
    }
    return candidate.toRgb();
}

void makeProminent(QPushButton& button, const QColor& fill) {
    // Only the enabled look changes: a disabled button keeps the style's dimmed colours.
    QPalette palette = button.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        const QColor text = button.parentWidget() != nullptr
                                ? button.parentWidget()->palette().color(group, QPalette::HighlightedText)
                                : palette.color(group, QPalette::HighlightedText);
        const QColor base = fill.isValid() ? fill
                            : button.parentWidget() != nullptr
                                ? button.parentWidget()->palette().color(group, QPalette::Highlight)
                                : palette.color(group, QPalette::Highlight);
        palette.setColor(group, QPalette::Button, readableFill(base, text));
        palette.setColor(group, QPalette::ButtonText, text);
        // The style outlines default and focused buttons in the highlight colour, which would
        // vanish on a fill of that colour.
        palette.setColor(group, QPalette::Highlight, text);
    }
    button.setPalette(palette);
}

QProgressBar* makeBusyIndicator(QSize sizePx, QWidget* parent) {
    auto* indicator = new QProgressBar(parent);
    indicator->setRange(0, 0);
    indicator->setTextVisible(false);
    indicator->setFixedSize(sizePx);
    indicator->setAccessibleName(QCoreApplication::translate("veltrane::style", "Busy"));
    return indicator;
}

QPushButton* makeSmallButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    const QFont font = captionFont();
    button->setFont(font);
    button->setAutoDefault(false);
    button->setFixedHeight(QFontMetrics(font).height() + 8);
    return button;
}

QLabel* makeLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace veltrane::style
