#pragma once

#include <QWidget>

namespace veltrane {

// The header's dot: red with a glow while recording, grey otherwise.
class RecordingDot : public QWidget {
public:
    explicit RecordingDot(QWidget* parent);

    void setRecording(bool recording);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool recording_ = false;
};

} // namespace veltrane
