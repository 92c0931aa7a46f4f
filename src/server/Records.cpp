#include "server/Records.h"

#include "server/ServerErrors.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>

namespace veltrane {

std::optional<std::string> utf8Text(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    // decode() is lazy: the conversion (and the error check) happens when the result becomes a QString.
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return std::string(bytes.data(), static_cast<std::size_t>(bytes.size()));
}

namespace {

[[nodiscard]] QDateTime parseWith(const QRegularExpression& shape, const QString& text) {
    if (!shape.match(text).hasMatch()) {
        return {};
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

// Optional fields are left out of a record's JSON when they are absent.
void insertOptional(nlohmann::json& object, const char* key, const std::optional<std::string>& value) {
    if (value) {
        object[key] = *value;
    }
}

} // namespace

QDateTime APIDateDecoder::decode(const std::string& text) {
    static const QRegularExpression withFraction(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d+(Z|[+-]\d{2}:\d{2})$)"));
    static const QRegularExpression withoutFraction(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));

    const QString value = QString::fromStdString(text);
    for (const QRegularExpression* shape : {&withFraction, &withoutFraction}) {
        const QDateTime parsed = parseWith(*shape, value);
        if (parsed.isValid()) {
            return parsed;
        }
    }
    throw DecodingError("Unrecognized date format: " + text);
}

JsonReader::JsonReader(const nlohmann::json& value, std::string_view recordName)
    : object_(value), recordName_(recordName) {
    if (!object_.is_object()) {
        throw DecodingError("Expected a JSON object for " + recordName_ + ", found " + object_.type_name());
    }
}

const nlohmann::json& JsonReader::required(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end()) {
        throw DecodingError("Missing key \"" + std::string(key) + "\" in " + recordName_);
    }
    return *found;
}

const nlohmann::json* JsonReader::optional(std::string_view key) const {
    const auto found = object_.find(key);
    if (found == object_.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

void JsonReader::typeMismatch(std::string_view key, std::string_view expected) const {
    const auto found = object_.find(key);
    const std::string actual = found == object_.end() ? "nothing" : found->type_name();
    throw DecodingError("Expected " + std::string(expected) + " for \"" + std::string(key) + "\" in " +
                        recordName_ + ", found " + actual);
}

std::string JsonReader::string(std::string_view key) const {
    const nlohmann::json& value = required(key);
    if (!value.is_string()) {
        typeMismatch(key, "a string");
    }
    return value.get<std::string>();
}

std::optional<std::string> JsonReader::optionalString(std::string_view key) const {
    const nlohmann::json* value = optional(key);
    if (!value) {
        return std::nullopt;
    }
    if (!value->is_string()) {
        typeMismatch(key, "a string");
    }
    return value->get<std::string>();
}

bool JsonReader::boolean(std::string_view key) const {
    const nlohmann::json& value = required(key);
    if (!value.is_boolean()) {
        typeMismatch(key, "a boolean");
    }
    return value.get<bool>();
}

nlohmann::json JsonReader::parse(std::string_view bytes) {
    try {
        return nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::exception& error) {
        // Besides syntax errors the parser throws out_of_range for a number beyond double range.
        throw DecodingError(std::string("The data is not valid JSON: ") + error.what());
    }
}

ProjectResponse ProjectResponse::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "ProjectResponse");
    ProjectResponse project;
    project.id = reader.string("id");
    project.name = reader.string("name");
    project.description = reader.optionalString("description");
    project.status = reader.string("status");
    project.createdAt = reader.optionalString("created_at");
    project.updatedAt = reader.optionalString("updated_at");
    return project;
}

nlohmann::json ProjectResponse::toJson() const {
    nlohmann::json json = {{"id", id}, {"name", name}, {"status", status}};
    insertOptional(json, "description", description);
    insertOptional(json, "created_at", createdAt);
    insertOptional(json, "updated_at", updatedAt);
    return json;
}

MeetingResponse MeetingResponse::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "MeetingResponse");
    MeetingResponse meeting;
    meeting.id = reader.string("id");
    meeting.projectId = reader.string("project_id");
    meeting.name = reader.string("name");
    meeting.scheduledDate = reader.optionalString("scheduled_date");
    meeting.endDate = reader.optionalString("end_date");
    meeting.createdAt = reader.optionalString("created_at");
    return meeting;
}

nlohmann::json MeetingResponse::toJson() const {
    nlohmann::json json = {{"id", id}, {"project_id", projectId}, {"name", name}};
    insertOptional(json, "scheduled_date", scheduledDate);
    insertOptional(json, "end_date", endDate);
    insertOptional(json, "created_at", createdAt);
    return json;
}

MeetingCreatePayload MeetingCreatePayload::make(std::string name, const QDateTime& scheduledDate,
                                                const std::optional<QDateTime>& endDate) {
    MeetingCreatePayload payload;
    payload.name = std::move(name);
    payload.scheduledDate = localDay(scheduledDate);
    if (endDate) {
        payload.endDate = localDay(*endDate);
    }
    return payload;
}

std::string MeetingCreatePayload::localDay(const QDateTime& instant) {
    return QLocale::c().toString(instant.toLocalTime().date(), QStringLiteral("yyyy-MM-dd")).toStdString();
}

nlohmann::json MeetingCreatePayload::toJson() const {
    nlohmann::json json = {{"name", name}, {"scheduled_date", scheduledDate}};
    insertOptional(json, "end_date", endDate);
    return json;
}

UserProfile UserProfile::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "UserProfile");
    UserProfile profile;
    profile.id = reader.string("id");
    profile.email = reader.string("email");
    profile.name = reader.optionalString("name");
    profile.isActive = reader.boolean("is_active");
    profile.isSuperuser = reader.boolean("is_superuser");
    profile.lastLogin = reader.optionalString("last_login");
    return profile;
}

namespace {

[[nodiscard]] KratosFlow::Message decodeMessage(const nlohmann::json& value) {
    const JsonReader reader(value, "KratosMessage");
    const auto id = value.find("id");
    return KratosFlow::Message{
        reader.string("text"), reader.optionalString("type"),
        id != value.end() && id->is_number_integer() ? std::optional(id->get<std::int64_t>()) : std::nullopt};
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

KratosLoginSuccess KratosLoginSuccess::fromJson(const nlohmann::json& value) {
    const JsonReader reader(value, "KratosLoginSuccess");
    return KratosLoginSuccess{reader.string("session_token")};
}

} // namespace veltrane
