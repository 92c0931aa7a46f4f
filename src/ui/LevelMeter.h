#pragma once

#include <QString>
#include <QVariantAnimation>
#include <QWidget>

namespace veltrane {

// One audio level as a labelled bar: the label, a rounded track filled from the left with a
// green-yellow-red gradient as wide as the level, and the level as a percentage ("off" when the
// meter is disabled). Width changes glide over 50 ms. The height is fixed.
class LevelMeter : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLabelWidthPx = 42;
    static constexpr int kValueWidthPx = 26;
    static constexpr int kSpacingPx = 6;
    static constexpr int kBarHeightPx = 8;
    static constexpr int kBarRadiusPx = 4;
    static constexpr int kAnimationMs = 50;

    explicit LevelMeter(QString label, QWidget* parent = nullptr);

    // Levels are expected from 0 to 1; anything else (including NaN) is drawn clamped.
    void setLevel(double level);
    void setMeterDisabled(bool disabled);
    [[nodiscard]] double level() const noexcept { return level_; }
    [[nodiscard]] bool isMeterDisabled() const noexcept { return disabled_; }

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
    void updateFixedHeight();

    QString label_;
    double level_ = 0.0;
    bool disabled_ = false;
    // The fraction of the bar drawn filled right now; follows level_ through the animation.
    double shownFraction_ = 0.0;
    QVariantAnimation animation_;
};

} // namespace veltrane
