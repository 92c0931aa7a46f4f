#include "devserver/LoginFlowDocument.h"

#include "devserver/IsoTime.h"

#include <stdexcept>

namespace veltrane::devserver {

namespace {

[[nodiscard]] nlohmann::json inputNode(const std::string& group, nlohmann::json attributes) {
    attributes["disabled"] = false;
    attributes["node_type"] = "input";
    return {{"type", "input"},
            {"group", group},
            {"attributes", std::move(attributes)},
            {"messages", nlohmann::json::array()},
            {"meta", nlohmann::json::object()}};
}

[[nodiscard]] nlohmann::json errorMessage(int messageId, const std::string& text) {
    return {{"id", messageId}, {"text", text}, {"type", "error"}, {"context", nlohmann::json::object()}};
}

} // namespace

LoginFlowDocument::LoginFlowDocument(const LoginFlow& flow, const std::string& baseUrl) {
    nlohmann::json nodes = nlohmann::json::array();
    nodes.push_back(
        inputNode("default", {{"name", "identifier"}, {"type", "text"}, {"value", ""}, {"required", true}}));
    nodes.push_back(inputNode("password", {{"name", "password"},
                                           {"type", "password"},
                                           {"required", true},
                                           {"autocomplete", "current-password"}}));
    nodes.push_back(inputNode("password", {{"name", "method"}, {"type", "submit"}, {"value", "password"}}));

    document_ = {{"id", flow.id},
                 {"type", "api"},
                 {"expires_at", IsoTime::format(flow.expiresAt)},
                 {"issued_at", IsoTime::format(flow.issuedAt)},
                 {"request_url", baseUrl + "/self-service/login/api"},
                 {"refresh", false},
                 {"requested_aal", "aal1"},
                 {"ui",
                  {{"action", baseUrl + "/self-service/login?flow=" + flow.id},
                   {"method", "POST"},
                   {"nodes", std::move(nodes)}}}};
}

nlohmann::json& LoginFlowDocument::node(const std::string& fieldName) {
    for (auto& candidate : document_["ui"]["nodes"]) {
        if (candidate["attributes"]["name"] == fieldName) {
            return candidate;
        }
    }
    throw std::invalid_argument("the login flow has no field " + fieldName);
}

void LoginFlowDocument::setIdentifier(const std::string& identifier) {
    node("identifier")["attributes"]["value"] = identifier;
}

void LoginFlowDocument::addFlowError(int messageId, const std::string& text) {
    document_["ui"]["messages"].push_back(errorMessage(messageId, text));
}

void LoginFlowDocument::addFieldError(const std::string& fieldName, int messageId, const std::string& text) {
    node(fieldName)["messages"].push_back(errorMessage(messageId, text));
}

} // namespace veltrane::devserver
