#pragma once

// Qt's headers come first: moc cannot read <compare> (included by the job record) on its own.
#include <QString>
#include <QWidget>

#include "upload/UploadJob.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

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
    void retryRequested(const QString& jobId);

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

} // namespace veltrane
