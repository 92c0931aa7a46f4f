#include "ui/UploadQueueView.h"

#include "app/Translations.h"
#include "ui/Style.h"
#include "upload/UploadManager.h"
#include "upload/UploadQueueFile.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
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
    retryButton_ = style::makeSmallButton(tr("Retry"), this);
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
    return job.lastError ? shownMessage(*job.lastError) : tr("Upload failed");
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
    const std::optional<std::string> waiting = job_.waitingText();
    // A waiting job shows why and when it goes next on the line a failure uses.
    const bool failed = job_.state == UploadState::failed || waiting.has_value();
    const QString filename = QString::fromStdString(job_.filename);
    filename_->setProperty(kFullTextProperty, filename);
    filename_->setToolTip(filename);
    elide(*filename_, Qt::ElideMiddle);
    // Among many rows, a screen reader says which chunk the button retries.
    retryButton_->setAccessibleName(tr("Retry %1").arg(filename));

    statusLine_->setVisible(uploading || failed);
    statusLine_->setCurrentIndex(failed ? 1 : 0);
    progress_->setValue(static_cast<int>(std::lround(std::clamp(job_.progress, 0.0, 1.0) * kProgressSteps)));
    error_->setProperty(kFullTextProperty, waiting  ? shownMessage(*waiting)
                                           : failed ? failureText(job_)
                                                    : QString());
    style::setTextColor(*error_, waiting ? style::secondaryTextColor(palette()) : style::redColor(palette()));
    elide(*error_, Qt::ElideRight);

    const QString context = QString::fromStdString(job_.contextLabel());
    context_->setProperty(kFullTextProperty, context);
    context_->setVisible(!context.isEmpty());
    elide(*context_, Qt::ElideRight);

    retryButton_->setVisible(failed && !waiting);
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
    QString name; // what a screen reader says of the icon
    switch (job_.state) {
    case UploadState::pending:
        tint = style::secondaryTextColor(palette());
        name = tr("Waiting");
        break;
    case UploadState::uploading:
        symbol = style::Symbol::uploading;
        tint = style::accentColor(palette());
        name = tr("Uploading");
        break;
    case UploadState::completed:
        symbol = style::Symbol::completed;
        tint = style::greenColor(palette());
        name = tr("Uploaded");
        break;
    case UploadState::failed:
        symbol = style::Symbol::warning;
        tint = style::redColor(palette());
        name = tr("Failed");
        break;
    }
    icon_->setPixmap(style::symbolPixmap(symbol, kIconWidthPx, tint, devicePixelRatioF()));
    icon_->setAccessibleName(name);
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

namespace {

enum class BodyPage { list = 0, empty = 1, otherProcess = 2 };

// A stacked widget as high as its current page, so the panel shrinks with a short list.
class FittingStack final : public QStackedWidget {
public:
    using QStackedWidget::QStackedWidget;
    [[nodiscard]] QSize sizeHint() const override {
        return currentWidget() != nullptr ? currentWidget()->sizeHint() : QStackedWidget::sizeHint();
    }
    [[nodiscard]] QSize minimumSizeHint() const override {
        return currentWidget() != nullptr ? currentWidget()->minimumSizeHint()
                                          : QStackedWidget::minimumSizeHint();
    }
};

// A scroll area that prefers its content's height up to a few rows and makes do with less; it
// grows with the room the window gives it.
class ListScrollArea final : public QScrollArea {
public:
    using QScrollArea::QScrollArea;
    [[nodiscard]] QSize sizeHint() const override {
        return {contentSize().width(), std::min(contentSize().height(), UploadQueueView::kMaxListHeightPx)};
    }
    [[nodiscard]] QSize minimumSizeHint() const override {
        return {0, std::min(contentSize().height(), UploadQueueView::kMinListHeightPx)};
    }

private:
    [[nodiscard]] QSize contentSize() const {
        const QSize content = widget() != nullptr ? widget()->sizeHint() : QSize();
        return {content.width(), content.height() + 2 * frameWidth()};
    }
};

} // namespace

UploadQueueView::UploadQueueView(UploadManager* manager, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* header = new QWidget(this);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(6);
    auto* title = style::makeLabel(tr("Uploads"), style::captionFont(), header);
    title->setMinimumWidth(kLabelWidthPx);
    sentLabel_ = style::makeLabel(QString(), style::captionFont(), header);
    sentLabel_->setObjectName(QStringLiteral("sent"));
    style::setTextColor(*sentLabel_, style::secondaryTextColor(palette()));
    failedLabel_ = style::makeLabel(QString(), style::captionFont(), header);
    failedLabel_->setObjectName(QStringLiteral("failed"));
    style::setTextColor(*failedLabel_, style::redColor(palette()));
    retryAllButton_ = style::makeSmallButton(tr("Retry all"), header);
    retryAllButton_->setObjectName(QStringLiteral("retryAll"));
    headerLayout->addWidget(title);
    headerLayout->addWidget(sentLabel_);
    headerLayout->addWidget(failedLabel_);
    headerLayout->addStretch(1);
    headerLayout->addWidget(retryAllButton_);
    // As high with "Retry all" as without it.
    header->setFixedHeight(retryAllButton_->sizeHint().height());
    layout->addWidget(header);

    // The queue's own trouble (a save that fails, a damaged file salvaged), above the rows.
    problemLabel_ = style::makeLabel(QString(), style::smallCaptionFont(), this);
    problemLabel_->setObjectName(QStringLiteral("problem"));
    problemLabel_->setWordWrap(true);
    style::setTextColor(*problemLabel_, style::redColor(palette()));
    problemLabel_->setVisible(false);
    layout->addWidget(problemLabel_);

    body_ = new FittingStack(this);
    body_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    scrollArea_ = new ListScrollArea(body_);
    scrollArea_->setFrameShape(QFrame::NoFrame);
    scrollArea_->setWidgetResizable(true);
    scrollArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scrollArea_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    scrollArea_->setAccessibleName(tr("Upload list")); // a Tab stop, for scrolling by keys
    list_ = new QWidget(scrollArea_);
    listLayout_ = new QVBoxLayout(list_);
    listLayout_->setContentsMargins(0, 0, 0, 0);
    listLayout_->setSpacing(kRowSpacingPx);
    listLayout_->addStretch(1);
    scrollArea_->setWidget(list_);
    body_->addWidget(scrollArea_);

    emptyLabel_ = style::makeLabel(tr("Nothing queued."), style::smallCaptionFont(), body_);
    emptyLabel_->setObjectName(QStringLiteral("empty"));
    emptyLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    style::setTextColor(*emptyLabel_, style::secondaryTextColor(palette()));
    body_->addWidget(emptyLabel_);
    otherProcessLabel_ = style::makeLabel(otherProcessText(), style::smallCaptionFont(), body_);
    otherProcessLabel_->setObjectName(QStringLiteral("otherProcess"));
    otherProcessLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    otherProcessLabel_->setWordWrap(true);
    style::setTextColor(*otherProcessLabel_, style::secondaryTextColor(palette()));
    body_->addWidget(otherProcessLabel_);
    layout->addWidget(body_);

    connect(retryAllButton_, &QPushButton::clicked, this, &UploadQueueView::retryAll);
    setManager(manager);
}

QString UploadQueueView::otherProcessText() {
    return tr("Uploads are being sent by another VeltraneRecorder process.");
}

std::vector<UploadJob> UploadQueueView::visibleJobs(const std::vector<UploadJob>& jobs) {
    std::vector<UploadJob> visible;
    std::vector<const UploadJob*> completed;
    for (const UploadJob& job : jobs) {
        if (job.state == UploadState::completed) {
            completed.push_back(&job);
        } else {
            visible.push_back(job);
        }
    }
    const std::size_t firstShown =
        completed.size() > kCompletedJobsShown ? completed.size() - kCompletedJobsShown : 0;
    for (std::size_t index = firstShown; index < completed.size(); ++index) {
        visible.push_back(*completed[index]);
    }
    std::stable_sort(visible.begin(), visible.end(),
                     [](const UploadJob& a, const UploadJob& b) { return a.createdAt > b.createdAt; });
    return visible;
}

int UploadQueueView::sentCount(const std::vector<UploadJob>& jobs) {
    return static_cast<int>(std::count_if(
        jobs.begin(), jobs.end(), [](const UploadJob& job) { return job.state == UploadState::completed; }));
}

int UploadQueueView::failedCount(const std::vector<UploadJob>& jobs) {
    return static_cast<int>(std::count_if(
        jobs.begin(), jobs.end(), [](const UploadJob& job) { return job.state == UploadState::failed; }));
}

void UploadQueueView::setManager(UploadManager* manager) {
    if (manager_ != nullptr) {
        disconnect(manager_, nullptr, this, nullptr);
    }
    manager_ = manager;
    if (manager_ != nullptr) {
        connect(manager_, &UploadManager::jobsChanged, this, &UploadQueueView::managerChanged);
        connect(manager_, &UploadManager::problemChanged, this, &UploadQueueView::managerChanged);
        connect(manager_, &QObject::destroyed, this, [this] { setManager(nullptr); });
    }
    managerChanged();
}

void UploadQueueView::managerChanged() {
    const QString problem = manager_ != nullptr ? manager_->problemText() : QString();
    problemLabel_->setText(shownMessage(problem.toStdString()));
    problemLabel_->setVisible(!problem.isEmpty());
    if (manager_ != nullptr) {
        showJobs(manager_->jobs());
        return;
    }
    showJobs({});
    // Without a manager the queue is another process's, unless its folder cannot be written at all.
    const auto unwritable =
        UploadQueueLock::unwritableReason(UploadManager::defaultApplicationDataDirectory());
    otherProcessLabel_->setText(unwritable ? shownMessage(*unwritable) : otherProcessText());
    body_->setCurrentIndex(static_cast<int>(BodyPage::otherProcess));
    body_->updateGeometry();
}

void UploadQueueView::showCounts(int sent, int failed) {
    sentLabel_->setText(tr("%n sent", nullptr, sent));
    failedLabel_->setText(tr("· %n failed", nullptr, failed));
    failedLabel_->setVisible(failed >= 1);
    retryAllButton_->setVisible(failed >= 1);
}

void UploadQueueView::showJobs(const std::vector<UploadJob>& jobs) {
    showCounts(sentCount(jobs), failedCount(jobs));
    const std::vector<UploadJob> visible = visibleJobs(jobs);

    // Rows are kept and given new jobs in place, so a progress step repaints one bar and nothing moves.
    while (rows_.size() > visible.size()) {
        delete rows_.back();
        rows_.pop_back();
    }
    while (rows_.size() < visible.size()) {
        auto* row = new UploadRow(list_);
        connect(row, &UploadRow::retryRequested, this, &UploadQueueView::retry);
        listLayout_->insertWidget(static_cast<int>(rows_.size()), row);
        // A row made later still takes its turn for Tab where it shows: after the row above it.
        const auto retryOf = [](UploadRow* of) {
            return of->findChild<QPushButton*>(QStringLiteral("retry"));
        };
        QWidget::setTabOrder(rows_.empty() ? static_cast<QWidget*>(scrollArea_) : retryOf(rows_.back()),
                             retryOf(row));
        rows_.push_back(row);
    }
    for (std::size_t index = 0; index < visible.size(); ++index) {
        rows_[index]->setJob(visible[index]);
    }
    body_->setCurrentIndex(static_cast<int>(visible.empty() ? BodyPage::empty : BodyPage::list));
    list_->adjustSize();
    scrollArea_->updateGeometry();
    body_->updateGeometry();
}

void UploadQueueView::retry(const QString& jobID) {
    if (manager_ != nullptr) {
        manager_->retry(jobID.toStdString());
    }
}

void UploadQueueView::retryAll() {
    if (manager_ != nullptr) {
        manager_->retryAll();
    }
}

} // namespace veltrane
