#pragma once

#include <QLabel>
#include <QString>

namespace veltrane {

// A one-line label that shortens its text in the middle when it does not fit; the full text is
// its tooltip.
class ElidingLabel : public QLabel {
public:
    explicit ElidingLabel(QWidget* parent);

    void setFullText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString fullText_;
};

} // namespace veltrane
