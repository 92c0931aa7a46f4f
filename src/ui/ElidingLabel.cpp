#include "ui/ElidingLabel.h"

namespace veltrane {

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setTextFormat(Qt::PlainText);
}

void ElidingLabel::setFullText(const QString& text) {
    fullText_ = text;
    setToolTip(text);
    elide();
}

void ElidingLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidingLabel::elide() {
    setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, width()));
}

} // namespace veltrane
