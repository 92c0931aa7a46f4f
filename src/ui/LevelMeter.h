#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace veltrane {

// One audio level as a labelled bar: the label, a rounded track filled from the left as wide as
// the level with a green-yellow-red gradient that spans the whole track (so red always means
// loud), and the level as a percentage ("off" when the meter is disabled). The height is fixed.
//
// Levels arrive many times a second while recording; the meter repaints only when what it shows
// changes (the percentage or the bar's width in pixels), at most 20 times a second, and not at all
// while it is hidden or its window is minimised (it shows the latest level when it appears).
class LevelMeter : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLabelWidthPx = 42;
    static constexpr int kValueWidthPx = 26;
    static constexpr int kSpacingPx = 6;
    static constexpr int kBarHeightPx = 8;
    static constexpr int kBarRadiusPx = 4;
    static constexpr int kMinRepaintIntervalMs = 50;

    explicit LevelMeter(QString label, QWidget* parent = nullptr);

    // Levels are expected from 0 to 1; anything else (including NaN) is drawn clamped.
    void setLevel(double level);
    void setMeterDisabled(bool disabled);
    [[nodiscard]] double level() const noexcept { return level_; }
    [[nodiscard]] bool isMeterDisabled() const noexcept { return disabled_; }
    // The level in whole percent as the value text shows it; 0 while disabled.
    [[nodiscard]] int percent() const;
    // How many times the meter has painted itself (for the cost checks).
    [[nodiscard]] int paintCount() const noexcept { return paintCount_; }

    // "off" when disabled, otherwise the clamped level × 100 truncated, right-aligned in three
    // characters ("  7", " 42", "100").
    [[nodiscard]] static QString valueText(double level, bool disabled);
    // The level brought into 0…1; not-a-number and infinities read as 0.
    [[nodiscard]] static double clampedLevel(double level);

    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // What a paint shows: the percentage text and the filled width in pixels.
    [[nodiscard]] std::pair<QString, int> shownValue() const;
    [[nodiscard]] int barWidth() const;
    // The label's and the value's columns: their fixed minimum or what the current font needs.
    [[nodiscard]] int labelWidthPx() const;
    [[nodiscard]] static int valueWidthPx();
    void scheduleRepaint();

    void updateFixedHeight();

    QString label_;
    double level_ = 0.0;
    bool disabled_ = false;
    std::pair<QString, int> painted_;
    QElapsedTimer sinceLastPaint_;
    QTimer repaintTimer_;
    int paintCount_ = 0;
};

} // namespace veltrane
