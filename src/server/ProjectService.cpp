#include "server/ProjectService.h"

#include "server/APIClient.h"
#include "server/Records.h"

namespace veltrane {

ProjectService::ProjectService(APIClient& client) : client_(&client) {}

APIClient& ProjectService::client() const {
    if (!client_) {
        throw APIError::notConfigured();
    }
    return *client_;
}

QString ProjectService::meetingsPath(const QString& projectId) {
    return QStringLiteral("/projects/") + QString::fromLatin1(QUrl::toPercentEncoding(projectId)) +
           QStringLiteral("/meetings");
}

QCoro::Task<std::vector<ProjectResponse>> ProjectService::fetchActiveProjects() const {
    co_return co_await client().request<std::vector<ProjectResponse>>(
        QStringLiteral("/projects?status=active"), "GET");
}

QCoro::Task<std::vector<MeetingResponse>> ProjectService::fetchMeetings(QString projectId) const {
    co_return co_await client().request<std::vector<MeetingResponse>>(meetingsPath(projectId), "GET");
}

QCoro::Task<MeetingResponse> ProjectService::createMeeting(QString projectId, QString name,
                                                           QDateTime scheduledDate,
                                                           std::optional<QDateTime> endDate) const {
    const MeetingCreatePayload payload =
        MeetingCreatePayload::make(name.toStdString(), scheduledDate, endDate);
    co_return co_await client().request<MeetingResponse>(meetingsPath(projectId), "POST", payload.toJson());
}

} // namespace veltrane
