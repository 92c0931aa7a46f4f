#include "app/UploadFailureNotifier.h"

#include "platform/desktop/DesktopNotifications.h"
#include "upload/UploadManager.h"

#include <QTimer>

namespace veltrane {

UploadFailureNotifier::UploadFailureNotifier(DesktopNotifications& notifications, QObject* parent)
    : QObject(parent), notifications_(notifications) {
    grouping_ = new QTimer(this);
    grouping_->setSingleShot(true);
    grouping_->setInterval(kGroupingMs);
    connect(grouping_, &QTimer::timeout, this, [this] { report(false); });
}

void UploadFailureNotifier::watch(UploadManager* manager) {
    if (manager_) {
        disconnect(manager_, nullptr, this, nullptr);
    }
    manager_ = manager;
    if (!manager_) {
        return;
    }
    (void)newlyFailed(manager_->jobs(), known_);
    connect(manager_, &UploadManager::jobsChanged, this, &UploadFailureNotifier::jobsChanged);
}

std::vector<std::string> UploadFailureNotifier::newlyFailed(const std::vector<UploadJob>& jobs,
                                                            std::set<std::string>& known) {
    std::vector<std::string> fresh;
    for (const UploadJob& job : jobs) {
        if (job.state == UploadState::failed && known.insert(job.id).second) {
            fresh.push_back(job.id);
        } else if (job.state != UploadState::failed) {
            known.erase(job.id); // retried: a new failure is news again
        }
    }
    return fresh;
}

QString UploadFailureNotifier::summaryText(std::size_t count) {
    return count == 1 ? tr("1 chunk could not be uploaded")
                      : tr("%n chunks could not be uploaded", nullptr, static_cast<int>(count));
}

QString UploadFailureNotifier::bodyText(const std::vector<QString>& filenames) {
    const QString retry = tr("It stays in the queue: Retry in VeltraneRecorder sends it again.");
    if (filenames.size() == 1) {
        return filenames.front() + QStringLiteral(". ") + retry;
    }
    return tr("They stay in the queue: Retry all in VeltraneRecorder sends them again.");
}

void UploadFailureNotifier::jobsChanged() {
    if (!manager_) {
        return;
    }
    const std::vector<UploadJob>& jobs = manager_->jobs();
    const std::vector<std::string> fresh = newlyFailed(jobs, known_);
    for (const std::string& id : fresh) {
        const auto job =
            std::find_if(jobs.begin(), jobs.end(), [&](const UploadJob& j) { return j.id == id; });
        collected_.push_back(QString::fromStdString(job->filename));
    }
    if (!fresh.empty() && !grouping_->isActive()) {
        grouping_->start();
    }
}

void UploadFailureNotifier::flush() {
    jobsChanged();
    report(true);
}

void UploadFailureNotifier::report(bool wait) {
    grouping_->stop();
    if (collected_.empty()) {
        return;
    }
    const std::vector<QString> filenames = std::exchange(collected_, {});
    const QString summary = summaryText(filenames.size());
    const QString body = bodyText(filenames);
    if (wait) {
        (void)notifications_.notifyAndWait(summary, body, NotificationUrgency::critical);
    } else {
        notifications_.notify(summary, body, NotificationUrgency::critical);
    }
}

} // namespace veltrane
