#pragma once

#include "server/Records.h"

#include <QCoroTask>
#include <QDateTime>
#include <QPointer>
#include <QString>

#include <optional>
#include <vector>

namespace veltrane {

class APIClient;

// The project and meeting calls of the server's API. Every failure is the client's APIError.
class ProjectService {
public:
    explicit ProjectService(APIClient& client);

    [[nodiscard]] QCoro::Task<std::vector<ProjectResponse>> fetchActiveProjects() const;
    [[nodiscard]] QCoro::Task<std::vector<MeetingResponse>> fetchMeetings(QString projectId) const;
    // The dates are sent as the local calendar days of the given instants.
    [[nodiscard]] QCoro::Task<MeetingResponse> createMeeting(QString projectId, QString name,
                                                             QDateTime scheduledDate,
                                                             std::optional<QDateTime> endDate) const;

    // "/projects/<id>/meetings" with the id as one path segment.
    [[nodiscard]] static QString meetingsPath(const QString& projectId);

private:
    [[nodiscard]] APIClient& client() const;

    QPointer<APIClient> client_;
};

} // namespace veltrane
