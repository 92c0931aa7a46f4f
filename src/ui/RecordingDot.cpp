#include "ui/RecordingDot.h"

#include "ui/Style.h"

#include <QPainter>

namespace veltrane {

RecordingDot::RecordingDot(QWidget* parent) : QWidget(parent) {
    setFixedSize(14, 14);
}

void RecordingDot::setRecording(bool recording) {
    recording_ = recording;
    update();
}

void RecordingDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF dot(2, 2, 10, 10);
    if (recording_) {
        QColor glow = style::redColor(palette());
        glow.setAlphaF(0.35);
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(dot.adjusted(-2, -2, 2, 2));
        painter.setBrush(style::redColor(palette()));
    } else {
        QColor grey(Qt::gray);
        grey.setAlphaF(0.5);
        painter.setPen(Qt::NoPen);
        painter.setBrush(grey);
    }
    painter.drawEllipse(dot);
}

} // namespace veltrane
