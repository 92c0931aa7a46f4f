#include "ui/UploadRow.h"

#include "ui/Style.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace veltrane {
namespace {

constexpr int kLineSpacingPx = 1;
constexpr int kProgressHeightPx = 6;
constexpr int kProgressSteps = 1000;
// The property that keeps a label's whole text while it shows a shortened one.
constexpr const char* kFullTextProperty = "fullText";

QLabel* makeLineLabel(const QFont& font, QWidget* parent) {
    auto* label = style::makeLabel(QString(), font, parent);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    // Room for descenders such as "_" however the text is centred.
    label->setFixedHeight(QFontMetrics(font).height() + 2);
    return label;
}

} // namespace

UploadRow::UploadRow(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacingPx);

    icon_ = new QLabel(this);
    icon_->setFixedWidth(kIconWidthPx);
    icon_->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon_, 0, Qt::AlignVCenter);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(kLineSpacingPx);
    const QFont small = style::smallCaptionFont();
    filename_ = makeLineLabel(style::monospacedFont(small), this);
    filename_->setObjectName(QStringLiteral("filename"));
    lines->addWidget(filename_);

    statusLine_ = new QStackedWidget(this);
    statusLine_->setFixedHeight(QFontMetrics(small).height() + 2);
    statusLine_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* progressHolder = new QWidget(statusLine_);
    auto* progressLayout = new QVBoxLayout(progressHolder);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progress_ = new QProgressBar(progressHolder);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, kProgressSteps);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(kProgressHeightPx);
    progressLayout->addWidget(progress_, 0, Qt::AlignVCenter);
    statusLine_->addWidget(progressHolder);
    error_ = makeLineLabel(small, statusLine_);
    error_->setObjectName(QStringLiteral("error"));
    style::setTextColor(*error_, style::redColor(palette()));
    statusLine_->addWidget(error_);
    lines->addWidget(statusLine_);

    context_ = makeLineLabel(small, this);
    context_->setObjectName(QStringLiteral("context"));
    style::setTextColor(*context_, style::secondaryTextColor(palette()));
    lines->addWidget(context_);
    layout->addLayout(lines, 1);

    layout->addSpacing(4);
    retryButton_ = style::makeSmallButton(QStringLiteral("Retry"), this);
    retryButton_->setObjectName(QStringLiteral("retry"));
    layout->addWidget(retryButton_, 0, Qt::AlignVCenter);

    for (QLabel* label : {filename_, error_, context_}) {
        label->installEventFilter(this);
    }
    connect(retryButton_, &QPushButton::clicked, this,
            [this] { emit retryRequested(QString::fromStdString(job_.id)); });
    render();
}

QString UploadRow::failureText(const UploadJob& job) {
    return job.lastError ? QString::fromStdString(*job.lastError) : QStringLiteral("Upload failed");
}

void UploadRow::setJob(const UploadJob& job) {
    if (job == job_) {
        return;
    }
    job_ = job;
    render();
}

void UploadRow::render() {
    const bool uploading = job_.state == UploadState::uploading;
    const bool failed = job_.state == UploadState::failed;
    const QString filename = QString::fromStdString(job_.filename);
    filename_->setProperty(kFullTextProperty, filename);
    filename_->setToolTip(filename);
    elide(*filename_, Qt::ElideMiddle);

    statusLine_->setVisible(uploading || failed);
    statusLine_->setCurrentIndex(failed ? 1 : 0);
    progress_->setValue(static_cast<int>(std::lround(std::clamp(job_.progress, 0.0, 1.0) * kProgressSteps)));
    error_->setProperty(kFullTextProperty, failed ? failureText(job_) : QString());
    elide(*error_, Qt::ElideRight);

    const QString context = QString::fromStdString(job_.contextLabel());
    context_->setProperty(kFullTextProperty, context);
    context_->setVisible(!context.isEmpty());
    elide(*context_, Qt::ElideRight);

    retryButton_->setVisible(failed);
    updateIcon();

    // The row is as high as the lines its state shows (or the button), never more, never less.
    int height = filename_->maximumHeight();
    if (uploading || failed) {
        height += kLineSpacingPx + statusLine_->maximumHeight();
    }
    if (!context.isEmpty()) {
        height += kLineSpacingPx + context_->maximumHeight();
    }
    if (failed) {
        height = std::max(height, retryButton_->sizeHint().height());
    }
    setFixedHeight(height);
}

void UploadRow::updateIcon() {
    QColor tint;
    style::Symbol symbol = style::Symbol::clock;
    switch (job_.state) {
    case UploadState::pending:
        tint = style::secondaryTextColor(palette());
        break;
    case UploadState::uploading:
        symbol = style::Symbol::uploading;
        tint = style::accentColor(palette());
        break;
    case UploadState::completed:
        symbol = style::Symbol::completed;
        tint = style::greenColor(palette());
        break;
    case UploadState::failed:
        symbol = style::Symbol::warning;
        tint = style::redColor(palette());
        break;
    }
    icon_->setPixmap(style::symbolPixmap(symbol, kIconWidthPx, tint, devicePixelRatioF()));
    icon_->setAccessibleName(QString::fromUtf8(rawValue(job_.state)));
}

void UploadRow::elide(QLabel& label, Qt::TextElideMode mode) {
    const QString full = label.property(kFullTextProperty).toString();
    label.setText(
        QFontMetrics(label.font()).elidedText(full, mode, std::max(0, label.contentsRect().width())));
}

bool UploadRow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize) {
        if (watched == filename_) {
            elide(*filename_, Qt::ElideMiddle);
        } else if (watched == error_ || watched == context_) {
            elide(*static_cast<QLabel*>(watched), Qt::ElideRight);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UploadRow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        updateIcon();
    }
    QWidget::changeEvent(event);
}

} // namespace veltrane
