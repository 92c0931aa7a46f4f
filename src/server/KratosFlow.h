#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace veltrane {

// A self-service login flow of the identity server, reduced to what sign-in reads: the flow id
// and the messages attached to the form and to its fields.
struct KratosFlow {
    struct Message {
        std::string text;
        std::optional<std::string> type;
    };
    struct Node {
        std::optional<std::vector<Message>> messages;
    };
    struct UI {
        std::optional<std::vector<Message>> messages;
        std::optional<std::vector<Node>> nodes;
    };

    std::string id;
    UI ui;

    // Throws DecodingError.
    [[nodiscard]] static KratosFlow fromJson(const nlohmann::json& value);

    // The form's messages first, then each field's, in order.
    [[nodiscard]] std::vector<Message> collectedMessages() const;
};

} // namespace veltrane
