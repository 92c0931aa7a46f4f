#include "server/KratosFlow.h"

#include "server/JsonReader.h"

namespace veltrane {

namespace {

[[nodiscard]] KratosFlow::Message decodeMessage(const nlohmann::json& value) {
    const JsonReader reader(value, "KratosMessage");
    return KratosFlow::Message{reader.string("text"), reader.optionalString("type")};
}

[[nodiscard]] std::optional<std::vector<KratosFlow::Message>> decodeMessages(const JsonReader& reader) {
    const nlohmann::json* list = reader.optional("messages");
    if (!list) {
        return std::nullopt;
    }
    if (!list->is_array()) {
        reader.typeMismatch("messages", "an array");
    }
    std::vector<KratosFlow::Message> messages;
    for (const nlohmann::json& element : *list) {
        messages.push_back(decodeMessage(element));
    }
    return messages;
}

} // namespace

KratosFlow KratosFlow::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "KratosFlow");
    KratosFlow flow;
    flow.id = reader.string("id");
    const JsonReader uiReader(reader.required("ui"), "KratosUI");
    flow.ui.messages = decodeMessages(uiReader);
    if (const nlohmann::json* nodes = uiReader.optional("nodes")) {
        if (!nodes->is_array()) {
            uiReader.typeMismatch("nodes", "an array");
        }
        std::vector<Node> decoded;
        for (const nlohmann::json& element : *nodes) {
            decoded.push_back(Node{decodeMessages(JsonReader(element, "KratosNode"))});
        }
        flow.ui.nodes = std::move(decoded);
    }
    return flow;
}

std::vector<KratosFlow::Message> KratosFlow::collectedMessages() const {
    std::vector<Message> collected = ui.messages.value_or(std::vector<Message>{});
    for (const Node& node : ui.nodes.value_or(std::vector<Node>{})) {
        for (const Message& message : node.messages.value_or(std::vector<Message>{})) {
            collected.push_back(message);
        }
    }
    return collected;
}

} // namespace veltrane
