#pragma once

#include "devserver/Authenticator.h"
#include "devserver/IdGenerator.h"
#include "devserver/LoginFlowRegistry.h"
#include "devserver/SessionRegistry.h"
#include "devserver/UserDirectory.h"

#include <httplib.h>

#include <string>

namespace veltrane::devserver {

// Sign-in: the password login flow of the identity service ("/self-service/login/api" starts
// one, "/self-service/login?flow=<id>" submits it) and the signed-in user's profile
// ("/api/v1/auth/me").
class AuthRoutes {
public:
    AuthRoutes(std::string baseUrl, LoginFlowRegistry& flows, SessionRegistry& sessions,
               const UserDirectory& users, IdGenerator& ids);

    void registerOn(httplib::Server& server);

private:
    void startFlow(httplib::Response& response);
    void submitFlow(const httplib::Request& request, httplib::Response& response);
    void currentUser(const httplib::Request& request, httplib::Response& response) const;

    std::string baseUrl_;
    LoginFlowRegistry& flows_;
    SessionRegistry& sessions_;
    Authenticator authenticator_;
    const UserDirectory& users_;
    IdGenerator& ids_;
};

} // namespace veltrane::devserver
