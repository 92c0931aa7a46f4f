#pragma once

// Qt's headers come first: moc cannot read <compare> (included by the job record) on its own.
#include <QPointer>
#include <QString>
#include <QWidget>

#include "upload/UploadJob.h"

#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace veltrane {

class UploadManager;
class UploadRow;

// The upload queue panel: "Uploads" with the sent and failed counts and "Retry all", then the jobs
// that matter now (everything not yet delivered and the last three delivered, newest first) in a
// short scrolling list, or "Nothing queued.". Without a manager another process owns the queue,
// and the panel says so.
class UploadQueueView : public QWidget {
    Q_OBJECT

public:
    static constexpr int kLabelWidthPx = 64;
    static constexpr int kMaxListHeightPx = 120;
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
    void retry(const QString& jobId);
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
    std::vector<UploadRow*> rows_;
};

} // namespace veltrane
