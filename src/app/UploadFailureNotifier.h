#pragma once

#include "upload/UploadJob.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <set>
#include <string>
#include <vector>

class QTimer;

namespace veltrane {

class DesktopNotifications;
class UploadManager;

// Tells the desktop about chunks whose upload failed for good. Failures that come close together
// make one notification ("3 chunks could not be uploaded"); jobs that had failed before the
// watch began are not reported again. Used by the window and the background uploader alike.
// Main thread only.
class UploadFailureNotifier : public QObject {
    Q_OBJECT

public:
    static constexpr int kGroupingMs = 2000;

    // `notifications` must outlive the notifier.
    explicit UploadFailureNotifier(DesktopNotifications& notifications, QObject* parent = nullptr);

    // Follows `manager` (may be null) from now on; its jobs failed already count as known.
    void watch(UploadManager* manager);
    // Reports what is collected right away and waits for the service (a command about to exit).
    void flush();

    // The ids of failed jobs not in `known`, which then holds them too.
    [[nodiscard]] static std::vector<std::string> newlyFailed(const std::vector<UploadJob>& jobs,
                                                              std::set<std::string>& known);
    [[nodiscard]] static QString summaryText(std::size_t count);
    // The file name of the one failed chunk, or a hint for several.
    [[nodiscard]] static QString bodyText(const std::vector<QString>& filenames);

private:
    void jobsChanged();
    void report(bool wait);

    DesktopNotifications& notifications_;
    QPointer<UploadManager> manager_;
    std::set<std::string> known_;
    std::vector<QString> collected_;
    QTimer* grouping_ = nullptr;
};

} // namespace veltrane
