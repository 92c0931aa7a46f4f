#include "ui/LevelMeter.h"
#include "ui/Style.h"

#include <QApplication>
#include <QPushButton>
#include <QStyle>

#include <gtest/gtest.h>

#include <limits>

namespace veltrane {
namespace {

TEST(LevelMeterTest, ValueTextIsTheTruncatedPercentInThreeCharactersOrOff) {
    const struct {
        double level;
        bool disabled;
        const char* text;
    } cases[] = {{0.07, false, "  7"},
                 {0.29, false, " 29"},
                 {0.42, false, " 42"},
                 {1.0, false, "100"},
                 {0.999, false, " 99"},
                 {0.0, false, "  0"},
                 {0.5, true, "off"},
                 {1.7, false, "100"},
                 {-0.3, false, "  0"},
                 {std::numeric_limits<double>::quiet_NaN(), false, "  0"},
                 {std::numeric_limits<double>::infinity(), false, "  0"}};
    for (const auto& c : cases) {
        EXPECT_EQ(LevelMeter::valueText(c.level, c.disabled), QString::fromLatin1(c.text)) << c.level;
    }
}

// Every symbol and the logo come out of the resources as real pictures, which needs the resources
// linked into the program and Qt's SVG plugins installed.
TEST(StyleTest, BundledSymbolsAndArtworkLoad) {
    using style::Symbol;
    for (const Symbol symbol :
         {Symbol::display, Symbol::microphone, Symbol::speaker, Symbol::warning, Symbol::clock,
          Symbol::uploading, Symbol::completed, Symbol::refresh, Symbol::add}) {
        const QImage image = style::symbolPixmap(symbol, 14, Qt::red, 1.0).toImage();
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                drawn += pixel.alpha() > 0 ? 1 : 0;
                EXPECT_TRUE(pixel.alpha() == 0 || (pixel.red() > 200 && pixel.green() < 50)) << x << "," << y;
            }
        }
        EXPECT_GT(drawn, 10) << style::bundledIconPath(symbol).toStdString();
    }
    EXPECT_FALSE(style::applicationIcon().pixmap(64, 64).isNull());
    const QPixmap logo = style::logoPixmap(190, 1.0);
    EXPECT_EQ(logo.width(), 190);
    EXPECT_LT(logo.height(), 190);
}

// Text on the coloured buttons (Sign In and the chosen format in the accent, Record in the accent,
// Stop in red) stays readable on a light palette and on a dark one whose own accent is too light.
TEST(StyleTest, ColouredButtonsTextReachesTheMinimumContrast) {
    QPalette dark(QColor(0x31, 0x36, 0x3b), QColor(0x23, 0x26, 0x29)); // button, window
    dark.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
    dark.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    dark.setColor(QPalette::HighlightedText, QColor(0xfc, 0xfc, 0xfc));
    for (const QPalette& palette : {QApplication::style()->standardPalette(), dark}) {
        QWidget window;
        window.setPalette(palette);
        for (const QColor& fill : {QColor(), style::accentColor(palette), style::redColor(palette)}) {
            QPushButton button(&window);
            style::makeProminent(button, fill);
            // The fill as the style paints it, near the top where its gradient is lightest.
            button.resize(120, 32);
            const QColor painted = button.grab().toImage().pixelColor(8, 8);
            const QColor text = button.palette().color(QPalette::ButtonText);
            EXPECT_GE(style::contrastRatio(text, painted), style::kMinimumTextContrast)
                << painted.name().toStdString() << " under " << text.name().toStdString();
        }
    }
    EXPECT_DOUBLE_EQ(style::contrastRatio(Qt::black, Qt::white), 21.0);
}

} // namespace
} // namespace veltrane
