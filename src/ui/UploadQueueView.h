#pragma once

#include "upload/UploadJob.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <vector>

// Qt's headers come first: moc cannot read <compare> (included by the job record) on its own.
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QScrollArea;
class QVBoxLayout;

namespace veltrane {

// One job of the upload queue panel: status icon, file name (shortened in the middle), a progress
// bar while uploading or the error while failed, the project and meeting, and "Retry" for a failed
// job. Each line has a fixed height, so changing values never change the row's height; only the
// lines a state shows count.
class UploadRow : public QWidget {
    Q_OBJECT

public:
    static constexpr int kIconWidthPx = 14;
    static constexpr int kSpacingPx = 6;

    explicit UploadRow(QWidget* parent = nullptr);

    void setJob(const UploadJob& job);
    [[nodiscard]] const UploadJob& job() const noexcept { return job_; }

    // The text a failed job shows: its last error, or "Upload failed" without one.
    [[nodiscard]] static QString failureText(const UploadJob& job);

signals:
    // "Retry" was pressed on the row's (failed) job.
    void retryRequested(const QString& jobID);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void render();
    void updateIcon();
    void elide(QLabel& label, Qt::TextElideMode mode);

    UploadJob job_;
    QLabel* icon_ = nullptr;
    QLabel* filename_ = nullptr;
    QStackedWidget* statusLine_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* error_ = nullptr;
    QLabel* context_ = nullptr;
    QPushButton* retryButton_ = nullptr;
};

class UploadManager;
class UploadRow;

// The upload queue panel: "Uploads" with the sent and failed counts and "Retry all", then the jobs
// that matter now (everything not yet delivered and the last three delivered, newest first) in a
// scrolling list as high as the window allows, or "Nothing queued.". Without a manager another
// process owns the queue, and the panel says so.
class UploadQueueView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLabelWidthPx = 64;
    // The list's preferred height, and the least it shrinks to before the window scrolls.
    static constexpr int kMaxListHeightPx = 120;
    static constexpr int kMinListHeightPx = 60;
    static constexpr int kRowSpacingPx = 4;
    static constexpr std::size_t kCompletedJobsShown = 3;

    // `manager` may be null (see setManager()).
    explicit UploadQueueView(UploadManager* manager, QWidget* parent = nullptr);

    // Follows `manager`'s jobs from now on. Null means another VeltraneRecorder process sends the
    // uploads: the panel shows that message, counts of 0 and no rows.
    void setManager(UploadManager* manager);
    // Shows `jobs` as the queue (rows and counts), whoever holds them; "Retry" and "Retry all"
    // reach the manager only when there is one.
    void showJobs(const std::vector<UploadJob>& jobs);

    // Every job not completed (list order), then the last three completed ones, all stably sorted
    // by creation time, newest first.
    [[nodiscard]] static std::vector<UploadJob> visibleJobs(const std::vector<UploadJob>& jobs);
    [[nodiscard]] static int sentCount(const std::vector<UploadJob>& jobs);
    [[nodiscard]] static int failedCount(const std::vector<UploadJob>& jobs);

    [[nodiscard]] static QString otherProcessText();

private:
    void managerChanged();
    void retry(const QString& jobID);
    void retryAll();
    void showCounts(int sent, int failed);

    QPointer<UploadManager> manager_;
    QLabel* sentLabel_ = nullptr;
    QLabel* failedLabel_ = nullptr;
    QPushButton* retryAllButton_ = nullptr;
    QStackedWidget* body_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    QWidget* list_ = nullptr;
    QVBoxLayout* listLayout_ = nullptr;
    QLabel* emptyLabel_ = nullptr;
    QLabel* otherProcessLabel_ = nullptr;
    QLabel* problemLabel_ = nullptr;
    std::vector<UploadRow*> rows_;
};

} // namespace veltrane
