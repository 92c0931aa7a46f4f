#include "app/StatusIcon.h"

#include "ui/Style.h"

#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace veltrane {

StatusIcon::StatusIcon(QObject* parent) : QObject(parent) {
    menu_ = new QMenu();
    menu_->addAction(tr("Show Window"), this, &StatusIcon::showWindowRequested);
    toggleAction_ = menu_->addAction(tr("Start Recording"), this, &StatusIcon::toggleRecordingRequested);
    menu_->addSeparator();
    menu_->addAction(tr("Quit"), this, &StatusIcon::quitRequested);
    tray_ = new QSystemTrayIcon(iconFor(StatusIconState::idle), this);
    tray_->setContextMenu(menu_);
    tray_->setToolTip(tooltipText(StatusIconState::idle, QString(), 0));
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            emit showWindowRequested();
        }
    });
}

StatusIcon::~StatusIcon() {
    delete menu_;
}

bool StatusIcon::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QString StatusIcon::tooltipText(StatusIconState state, const QString& elapsed, int pendingUploads) {
    switch (state) {
    case StatusIconState::recording:
        return tr("VeltraneRecorder — Recording %1").arg(elapsed);
    case StatusIconState::uploading:
        return pendingUploads == 1 ? tr("VeltraneRecorder — Uploading 1 chunk")
                                   : tr("VeltraneRecorder — Uploading %n chunks", nullptr, pendingUploads);
    case StatusIconState::idle:
        break;
    }
    return tr("VeltraneRecorder — Idle");
}

QIcon StatusIcon::iconFor(StatusIconState state) {
    constexpr int kSizePx = 64;
    QPixmap pixmap = style::applicationIcon().pixmap(kSizePx, kSizePx);
    if (state == StatusIconState::idle) {
        return QIcon(pixmap);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(kSizePx * 0.5, kSizePx * 0.5, kSizePx * 0.48, kSizePx * 0.48);
    painter.setPen(QPen(Qt::white, 3));
    if (state == StatusIconState::recording) {
        painter.setBrush(QColor(255, 59, 48));
        painter.drawEllipse(badge);
    } else {
        painter.setBrush(QColor(0, 122, 255));
        painter.drawEllipse(badge);
        const QPointF center = badge.center();
        const qreal arm = badge.width() * 0.22;
        painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(QPointF(center.x(), center.y() + arm), QPointF(center.x(), center.y() - arm));
        painter.drawPolyline(
            QPolygonF({QPointF(center.x() - arm, center.y()), QPointF(center.x(), center.y() - arm),
                       QPointF(center.x() + arm, center.y())}));
    }
    return QIcon(pixmap);
}

void StatusIcon::show(StatusIconState state, const QString& elapsed, int pendingUploads,
                      bool canStartRecording) {
    const QString tooltip = tooltipText(state, elapsed, pendingUploads);
    if (state != state_ || !shownOnce_) {
        tray_->setIcon(iconFor(state));
    }
    if (tray_->toolTip() != tooltip) {
        tray_->setToolTip(tooltip);
    }
    state_ = state;
    toggleAction_->setText(state == StatusIconState::recording ? tr("Stop Recording")
                                                               : tr("Start Recording"));
    toggleAction_->setEnabled(state == StatusIconState::recording || canStartRecording);
    if (!shownOnce_) {
        shownOnce_ = true;
        tray_->show();
    }
}

} // namespace veltrane
