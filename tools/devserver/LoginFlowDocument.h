#pragma once

#include "devserver/LoginFlow.h"

#include <nlohmann/json.hpp>

#include <string>

namespace veltrane::devserver {

// The JSON form of a login flow: what a client renders and submits, with the messages of a
// rejected submission attached to the flow or to one of its fields.
class LoginFlowDocument {
public:
    static constexpr int kInvalidCredentialsId = 4000006;
    static constexpr int kMissingPropertyId = 4000002;
    static constexpr int kUnknownMethodId = 4010002;

    LoginFlowDocument(const LoginFlow& flow, const std::string& baseUrl);

    // The identifier the user typed, shown again in its field.
    void setIdentifier(const std::string& identifier);
    // An error about the whole submission.
    void addFlowError(int messageId, const std::string& text);
    // An error about one field: "identifier" or "password".
    void addFieldError(const std::string& fieldName, int messageId, const std::string& text);

    [[nodiscard]] const nlohmann::json& json() const { return document_; }

private:
    [[nodiscard]] nlohmann::json& node(const std::string& fieldName);

    nlohmann::json document_;
};

} // namespace veltrane::devserver
