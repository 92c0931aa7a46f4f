#pragma once

#include "devserver/FaultInjector.h"
#include "devserver/Records.h"
#include "devserver/Stores.h"
#include "devserver/WireFormat.h"

#include <httplib.h>

#include <optional>
#include <string>

namespace veltrane::devserver {

// Finds the session of a request's bearer token, counting the request against the token.
class Authenticator {
public:
    explicit Authenticator(SessionRegistry& sessions) : sessions_(sessions) {}

    [[nodiscard]] std::optional<Session> authenticate(const httplib::Request& request) const;

private:
    SessionRegistry& sessions_;
};

// Sign-in: the password login flow of the identity service ("/self-service/login/api" starts
// one, "/self-service/login?flow=<id>" submits it) and the signed-in user's profile
// ("/api/v1/auth/me").
class AuthRoutes {
public:
    AuthRoutes(std::string baseURL, LoginFlowRegistry& flows, SessionRegistry& sessions,
               const UserDirectory& users, IDGenerator& ids);

    void registerOn(httplib::Server& server);

private:
    void startFlow(httplib::Response& response);
    void submitFlow(const httplib::Request& request, httplib::Response& response);
    void currentUser(const httplib::Request& request, httplib::Response& response) const;

    std::string baseURL_;
    LoginFlowRegistry& flows_;
    SessionRegistry& sessions_;
    Authenticator authenticator_;
    const UserDirectory& users_;
    IDGenerator& ids_;
};

// Projects and meetings under "/api/v1/projects"; every call needs a bearer token.
class ProjectRoutes {
public:
    ProjectRoutes(ProjectCatalog& catalog, const Authenticator& authenticator, IDGenerator& ids);

    void registerOn(httplib::Server& server);

private:
    void listProjects(const httplib::Request& request, httplib::Response& response) const;
    void listMeetings(const httplib::Request& request, httplib::Response& response) const;
    void createMeeting(const httplib::Request& request, httplib::Response& response);

    ProjectCatalog& catalog_;
    const Authenticator& authenticator_;
    IDGenerator& ids_;
};

// The ingestion endpoint "/api/v1/ingestion/upload": a multipart form with "project_id", an
// optional "meeting_id" and the "file" part. The file is streamed to disk while it arrives.
class UploadRoutes {
public:
    UploadRoutes(const UploadStore& store, const ProjectCatalog& catalog, const Authenticator& authenticator,
                 FaultInjector& faults, RequestLog& log, IDGenerator& ids);

    void registerOn(httplib::Server& server);

private:
    void upload(const httplib::Request& request, httplib::Response& response,
                const httplib::ContentReader& reader);
    // Finishes an upload whose form has been read completely.
    void store(UploadForm& form, httplib::Response& response);

    const UploadStore& store_;
    const ProjectCatalog& catalog_;
    const Authenticator& authenticator_;
    FaultInjector& faults_;
    RequestLog& log_;
    IDGenerator& ids_;
};

} // namespace veltrane::devserver
