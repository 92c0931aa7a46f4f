#pragma once

#include "devserver/Authenticator.h"
#include "devserver/IdGenerator.h"
#include "devserver/ProjectCatalog.h"

#include <httplib.h>

namespace veltrane::devserver {

// Projects and meetings under "/api/v1/projects"; every call needs a bearer token.
class ProjectRoutes {
public:
    ProjectRoutes(ProjectCatalog& catalog, const Authenticator& authenticator, IdGenerator& ids);

    void registerOn(httplib::Server& server);

private:
    void listProjects(const httplib::Request& request, httplib::Response& response) const;
    void listMeetings(const httplib::Request& request, httplib::Response& response) const;
    void createMeeting(const httplib::Request& request, httplib::Response& response);

    ProjectCatalog& catalog_;
    const Authenticator& authenticator_;
    IdGenerator& ids_;
};

} // namespace veltrane::devserver
