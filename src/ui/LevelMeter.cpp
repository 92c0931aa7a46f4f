#include "ui/LevelMeter.h"

#include "ui/Style.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace veltrane {

namespace {

// What assistive technology sees of a meter: a read-only progress bar from 0 to 100 holding the
// level in percent (0 while the meter is off).
class LevelMeterAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit LevelMeterAccessible(LevelMeter* meter) : QAccessibleWidget(meter, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ValueInterface ? static_cast<QAccessibleValueInterface*>(this)
                                                   : QAccessibleWidget::interface_cast(type);
    }
    [[nodiscard]] QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return meter()->isMeterDisabled() ? QCoreApplication::translate("veltrane::LevelMeter", "off")
                                              : QString::number(meter()->percent()) + QLatin1Char('%');
        }
        return QAccessibleWidget::text(kind);
    }
    [[nodiscard]] QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
    [[nodiscard]] QVariant currentValue() const override { return meter()->percent(); }
    void setCurrentValue(const QVariant& /*value*/) override {} // the level is only shown
    [[nodiscard]] QVariant maximumValue() const override { return 100; }
    [[nodiscard]] QVariant minimumValue() const override { return 0; }
    [[nodiscard]] QVariant minimumStepSize() const override { return 1; }

private:
    [[nodiscard]] LevelMeter* meter() const { return static_cast<LevelMeter*>(widget()); }
};

QAccessibleInterface* levelMeterAccessible(const QString& className, QObject* object) {
    auto* meter = qobject_cast<LevelMeter*>(object);
    return meter != nullptr && className == QLatin1String(LevelMeter::staticMetaObject.className())
               ? new LevelMeterAccessible(meter)
               : nullptr;
}

} // namespace

LevelMeter::LevelMeter(QString label, QWidget* parent) : QWidget(parent), label_(std::move(label)) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(levelMeterAccessible);
        return true;
    }();
    (void)factoryInstalled;
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(label_);
    repaintTimer_.setSingleShot(true);
    connect(&repaintTimer_, &QTimer::timeout, this, &LevelMeter::scheduleRepaint);
    updateFixedHeight();
}

double LevelMeter::clampedLevel(double level) {
    if (!std::isfinite(level)) {
        return 0.0;
    }
    return std::clamp(level, 0.0, 1.0);
}

QString LevelMeter::valueText(double level, bool disabled) {
    if (disabled) {
        return tr("off");
    }
    // A tiny allowance keeps binary fractions such as 0.29 (28.999…) at their decimal value.
    const int percent = static_cast<int>(clampedLevel(level) * 100.0 + 1e-9);
    return QString::asprintf("%3d", percent);
}

void LevelMeter::setLevel(double level) {
    const double target = clampedLevel(level);
    if (target == level_) {
        return;
    }
    level_ = target;
    scheduleRepaint();
}

void LevelMeter::setMeterDisabled(bool disabled) {
    if (disabled == disabled_) {
        return;
    }
    disabled_ = disabled;
    scheduleRepaint();
}

int LevelMeter::labelWidthPx() const {
    return std::max(kLabelWidthPx, QFontMetrics(style::smallCaptionFont()).horizontalAdvance(label_) + 2);
}

int LevelMeter::valueWidthPx() {
    const QFontMetrics metrics(style::monospacedFont(style::smallCaptionFont()));
    return std::max(kValueWidthPx, metrics.horizontalAdvance(QStringLiteral("100")) + 2);
}

int LevelMeter::percent() const {
    return disabled_ ? 0 : static_cast<int>(clampedLevel(level_) * 100.0 + 1e-9);
}

int LevelMeter::barWidth() const {
    return std::max(0, width() - labelWidthPx() - valueWidthPx() - 2 * kSpacingPx);
}

std::pair<QString, int> LevelMeter::shownValue() const {
    const int filled = disabled_ ? 0 : static_cast<int>(std::lround(barWidth() * level_));
    return {valueText(level_, disabled_), filled};
}

void LevelMeter::scheduleRepaint() {
    if (!isVisible() || window()->isMinimized() || repaintTimer_.isActive() || shownValue() == painted_) {
        return; // a hidden meter paints the latest level when it is shown again
    }
    const qint64 sinceLast = sinceLastPaint_.isValid() ? sinceLastPaint_.elapsed() : kMinRepaintIntervalMs;
    if (sinceLast < kMinRepaintIntervalMs) {
        repaintTimer_.start(static_cast<int>(kMinRepaintIntervalMs - sinceLast));
        return;
    }
    setAccessibleDescription(valueText(level_, disabled_).trimmed());
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent change(this, percent());
        QAccessible::updateAccessibility(&change);
    }
    update();
}

QSize LevelMeter::sizeHint() const {
    return {220, minimumSizeHint().height()};
}

QSize LevelMeter::minimumSizeHint() const {
    const QFontMetrics metrics(style::smallCaptionFont());
    return {labelWidthPx() + valueWidthPx() + 2 * kSpacingPx + 40, std::max(metrics.height(), kBarHeightPx)};
}

void LevelMeter::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        updateFixedHeight();
    }
    QWidget::changeEvent(event);
}

void LevelMeter::updateFixedHeight() {
    setFixedHeight(minimumSizeHint().height());
}

void LevelMeter::paintEvent(QPaintEvent* /*event*/) {
    ++paintCount_;
    painted_ = shownValue();
    sinceLastPaint_.start();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = style::secondaryTextColor(palette());
    const QRect area = rect();

    const QFont labelFont = style::smallCaptionFont();
    painter.setFont(labelFont);
    painter.setPen(secondary);
    const QRect labelRect(area.left(), area.top(), labelWidthPx(), area.height());
    painter.drawText(labelRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(labelFont).elidedText(label_, Qt::ElideRight, labelRect.width()));

    painter.setFont(style::monospacedFont(labelFont));
    const QRect valueRect(area.right() + 1 - valueWidthPx(), area.top(), valueWidthPx(), area.height());
    painter.drawText(valueRect, Qt::AlignRight | Qt::AlignVCenter, valueText(level_, disabled_));

    const int barLeft = labelRect.right() + 1 + kSpacingPx;
    const int trackWidth = std::max(0, valueRect.left() - kSpacingPx - barLeft);
    const QRectF bar(barLeft, area.top() + (area.height() - kBarHeightPx) / 2.0, trackWidth, kBarHeightPx);
    QColor track = Qt::gray;
    track.setAlphaF(0.2F);
    painter.setPen(Qt::NoPen);
    painter.setBrush(track);
    painter.drawRoundedRect(bar, kBarRadiusPx, kBarRadiusPx);

    if (disabled_ || painted_.second <= 0) {
        return;
    }
    QRectF fill = bar;
    fill.setWidth(painted_.second);
    // The gradient spans the whole track: a quiet level shows green only, a loud one reaches red.
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    gradient.setColorAt(0.0, QColor(52, 199, 89));
    gradient.setColorAt(0.6, QColor(255, 204, 0));
    gradient.setColorAt(1.0, QColor(255, 59, 48));
    painter.setBrush(gradient);
    painter.drawRoundedRect(fill, std::min<qreal>(kBarRadiusPx, fill.width() / 2), kBarRadiusPx);
}

} // namespace veltrane
