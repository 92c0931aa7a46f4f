#include "devserver/AuthRoutes.h"

#include "devserver/IsoTime.h"
#include "devserver/LoginFlowDocument.h"
#include "devserver/Responses.h"
#include "devserver/WireFormat.h"

#include <nlohmann/json.hpp>

namespace veltrane::devserver {

namespace {

constexpr const char* kMalformedMessage = "The request was malformed or contained invalid parameters.";

// A text member of the submitted form: absent when missing or null, an error when of another type.
[[nodiscard]] bool readText(const nlohmann::json& body, const char* key, std::string& value) {
    if (!body.contains(key) || body.at(key).is_null()) {
        value.clear();
        return true;
    }
    if (!body.at(key).is_string()) {
        return false;
    }
    value = body.at(key).get<std::string>();
    return true;
}

} // namespace

AuthRoutes::AuthRoutes(std::string baseUrl, LoginFlowRegistry& flows, SessionRegistry& sessions,
                       const UserDirectory& users, IdGenerator& ids)
    : baseUrl_(std::move(baseUrl)), flows_(flows), sessions_(sessions), authenticator_(sessions),
      users_(users), ids_(ids) {}

void AuthRoutes::registerOn(httplib::Server& server) {
    server.Get("/self-service/login/api",
               [this](const httplib::Request&, httplib::Response& response) { startFlow(response); });
    server.Post("/self-service/login", [this](const httplib::Request& request, httplib::Response& response) {
        submitFlow(request, response);
    });
    server.Get("/api/v1/auth/me", [this](const httplib::Request& request, httplib::Response& response) {
        currentUser(request, response);
    });
}

void AuthRoutes::startFlow(httplib::Response& response) {
    const LoginFlow flow = flows_.start(ids_.uuid());
    Responses::json(response, 200, LoginFlowDocument(flow, baseUrl_).json());
}

void AuthRoutes::submitFlow(const httplib::Request& request, httplib::Response& response) {
    const std::string flowId = request.get_param_value("flow");
    if (flowId.empty()) {
        Responses::identityError(response, 400, "", "The flow query parameter is missing or malformed.",
                                 kMalformedMessage);
        return;
    }
    const auto flow = flows_.find(flowId);
    if (!flow) {
        const bool expired = flow.error() == FlowProblem::expired;
        Responses::identityError(
            response, 410, "self_service_flow_expired",
            expired ? "The login flow has expired. Start a new one."
                    : "The login flow does not exist or was already completed. Start a new one.",
            "self-service flow expired");
        return;
    }

    const auto body = nlohmann::json::parse(request.body, nullptr, false);
    std::string method;
    std::string identifier;
    std::string password;
    if (body.is_discarded() || !body.is_object() || !readText(body, "method", method) ||
        !readText(body, "identifier", identifier) || !readText(body, "password", password)) {
        Responses::identityError(response, 400, "", "The request body is not a JSON object of text fields.",
                                 kMalformedMessage);
        return;
    }

    LoginFlowDocument document(*flow, baseUrl_);
    document.setIdentifier(identifier);
    if (method != "password") {
        document.addFlowError(LoginFlowDocument::kUnknownMethodId,
                              "Could not find a strategy to log you in with. Did you fill out the form "
                              "correctly?");
        Responses::json(response, 400, document.json());
        return;
    }
    if (identifier.empty() || password.empty()) {
        if (identifier.empty()) {
            document.addFieldError("identifier", LoginFlowDocument::kMissingPropertyId,
                                   "Property identifier is missing.");
        }
        if (password.empty()) {
            document.addFieldError("password", LoginFlowDocument::kMissingPropertyId,
                                   "Property password is missing.");
        }
        Responses::json(response, 400, document.json());
        return;
    }

    const auto user = users_.findByEmail(identifier);
    if (!user || user->password != password) {
        document.addFlowError(LoginFlowDocument::kInvalidCredentialsId,
                              "The provided credentials are invalid, check for spelling mistakes in your "
                              "password or username, email address, or phone number.");
        Responses::json(response, 400, document.json());
        return;
    }

    flows_.complete(flowId);
    const Session session = sessions_.open(ids_.token(), ids_.uuid(), user->id);
    const nlohmann::json identity = {
        {"id", user->id},
        {"schema_id", "default"},
        {"state", "active"},
        {"traits",
         {{"email", user->email}, {"name", {{"first", user->firstName}, {"last", user->lastName}}}}}};
    Responses::json(response, 200,
                    {{"session_token", session.token},
                     {"session",
                      {{"id", session.id},
                       {"active", true},
                       {"expires_at", IsoTime::format(session.expiresAt)},
                       {"authenticated_at", IsoTime::format(session.authenticatedAt)},
                       {"issued_at", IsoTime::format(session.authenticatedAt)},
                       {"identity", identity}}}});
}

void AuthRoutes::currentUser(const httplib::Request& request, httplib::Response& response) const {
    const auto session = authenticator_.authenticate(request);
    const auto user = session ? users_.findById(session->userId) : std::nullopt;
    if (!user) {
        Responses::notAuthenticated(response);
        return;
    }
    Responses::json(response, 200, WireFormat::profile(*user, IsoTime::format(session->authenticatedAt)));
}

} // namespace veltrane::devserver
