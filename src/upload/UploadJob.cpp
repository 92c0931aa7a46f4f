#include "upload/UploadJob.h"

#include "platform/core/UUID.h"
#include "server/ServerErrors.h"

#include <QDateTime>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace veltrane {

std::string_view rawValue(UploadState state) {
    switch (state) {
    case UploadState::pending:
        return "pending";
    case UploadState::uploading:
        return "uploading";
    case UploadState::completed:
        return "completed";
    case UploadState::failed:
        return "failed";
    }
    return "pending";
}

std::optional<UploadState> uploadStateFromRawValue(std::string_view text) {
    for (const UploadState state :
         {UploadState::pending, UploadState::uploading, UploadState::completed, UploadState::failed}) {
        if (rawValue(state) == text) {
            return state;
        }
    }
    return std::nullopt;
}

UploadJob UploadJob::makeNew(std::string filename, std::string projectId,
                             std::optional<std::string> projectName, std::optional<std::string> meetingId,
                             std::optional<std::string> meetingName, std::optional<double> duration,
                             ReferenceDate now) {
    UploadJob job;
    job.id = makeUUIDString();
    job.filename = std::move(filename);
    job.projectId = std::move(projectId);
    job.projectName = std::move(projectName);
    job.meetingId = std::move(meetingId);
    job.meetingName = std::move(meetingName);
    job.createdAt = now;
    job.duration = duration;
    return job;
}

std::string UploadJob::contextLabel() const {
    std::string label;
    bool first = true;
    for (const auto* part : {&projectName, &meetingName}) {
        if (!part->has_value()) {
            continue;
        }
        if (!first) {
            label += " \u203A ";
        }
        label += **part;
        first = false;
    }
    return label;
}

std::vector<std::pair<std::string, std::string>> UploadJob::multipartFields() const {
    std::vector<std::pair<std::string, std::string>> fields{{"project_id", projectId}};
    if (meetingId) {
        fields.emplace_back("meeting_id", *meetingId);
    }
    return fields;
}

namespace {

constexpr std::string_view kWaitServer = "server";
constexpr std::string_view kWaitSignIn = "signIn";

QDateTime localTime(ReferenceDate date) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(
        (date.secondsSinceReferenceDate + ReferenceDate::kUnixSecondsAtReferenceDate) * 1000.0)));
}

} // namespace

std::optional<std::string> UploadJob::waitingText() const {
    if (!waitingFor || state != UploadState::pending) {
        return std::nullopt;
    }
    if (*waitingFor == UploadWait::signIn) {
        return QT_TRANSLATE_NOOP("veltrane::Messages", "Waiting for sign-in");
    }
    const QString since =
        waitingSince ? localTime(*waitingSince).toString(QStringLiteral("HH:mm")) : QString();
    const QString next = nextEarliestAttempt
                             ? localTime(*nextEarliestAttempt).toString(QStringLiteral("HH:mm:ss"))
                             : QString();
    return filledMessage(kServerWaitMessages[waitingSince ? 1 : 0][nextEarliestAttempt ? 1 : 0],
                         {since, next})
        .toStdString();
}

namespace {

using Json = nlohmann::json;

struct DecodeFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const Json& required(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        throw DecodeFailure(std::string("missing key ") + key);
    }
    return *found;
}

const Json* optionalValue(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return nullptr;
    }
    return &*found;
}

std::string asString(const Json& value) {
    if (!value.is_string()) {
        throw DecodeFailure("expected a string");
    }
    return value.get<std::string>();
}

double asDouble(const Json& value) {
    if (!value.is_number()) {
        throw DecodeFailure("expected a number");
    }
    return value.get<double>();
}

std::int64_t asInt64(const Json& value) {
    if (value.is_number_integer()) {
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw DecodeFailure("integer out of range");
        }
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // A float is accepted only when it names an integer exactly.
        if (std::trunc(number) == number && number >= -9.2233720368547758e18 &&
            number < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(number);
        }
    }
    throw DecodeFailure("expected an integer");
}

Json encodeJob(const UploadJob& job) {
    Json object = Json::object();
    object["id"] = job.id;
    object["filename"] = job.filename;
    object["projectId"] = job.projectId;
    if (job.projectName) {
        object["projectName"] = *job.projectName;
    }
    if (job.meetingId) {
        object["meetingId"] = *job.meetingId;
    }
    if (job.meetingName) {
        object["meetingName"] = *job.meetingName;
    }
    object["createdAt"] = job.createdAt.secondsSinceReferenceDate;
    if (job.duration) {
        object["duration"] = *job.duration;
    }
    object["state"] = std::string(rawValue(job.state));
    object["progress"] = job.progress;
    if (job.lastError) {
        object["lastError"] = *job.lastError;
    }
    object["attempts"] = job.attempts;
    if (job.nextEarliestAttempt) {
        object["nextEarliestAttempt"] = job.nextEarliestAttempt->secondsSinceReferenceDate;
    }
    if (job.taskIdentifier) {
        object["taskIdentifier"] = *job.taskIdentifier;
    }
    if (job.folder) {
        object["folder"] = *job.folder;
    }
    if (job.waitingFor) {
        object["waitingFor"] = std::string(*job.waitingFor == UploadWait::server ? kWaitServer : kWaitSignIn);
    }
    if (job.waitingSince) {
        object["waitingSince"] = job.waitingSince->secondsSinceReferenceDate;
    }
    return object;
}

std::optional<std::string> optionalString(const Json& object, const char* key) {
    if (const Json* value = optionalValue(object, key)) {
        return asString(*value);
    }
    return std::nullopt;
}

UploadJob decodeJob(const Json& object) {
    if (!object.is_object()) {
        throw DecodeFailure("expected an object");
    }
    UploadJob job;
    job.id = asString(required(object, "id"));
    if (!isUUIDText(job.id)) {
        throw DecodeFailure("id is not a UUID");
    }
    std::transform(job.id.begin(), job.id.end(), job.id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    job.filename = asString(required(object, "filename"));
    job.projectId = asString(required(object, "projectId"));
    job.projectName = optionalString(object, "projectName");
    job.meetingId = optionalString(object, "meetingId");
    job.meetingName = optionalString(object, "meetingName");
    job.createdAt = ReferenceDate{asDouble(required(object, "createdAt"))};
    if (const Json* duration = optionalValue(object, "duration")) {
        job.duration = asDouble(*duration);
    }
    const auto state = uploadStateFromRawValue(asString(required(object, "state")));
    if (!state) {
        throw DecodeFailure("unknown state");
    }
    job.state = *state;
    job.progress = asDouble(required(object, "progress"));
    job.lastError = optionalString(object, "lastError");
    job.attempts = asInt64(required(object, "attempts"));
    if (const Json* next = optionalValue(object, "nextEarliestAttempt")) {
        job.nextEarliestAttempt = ReferenceDate{asDouble(*next)};
    }
    if (const Json* task = optionalValue(object, "taskIdentifier")) {
        job.taskIdentifier = asInt64(*task);
    }
    job.folder = optionalString(object, "folder");
    // Why a job waited is a hint for the display only: an unknown reason is dropped, not fatal.
    if (const auto waiting = optionalString(object, "waitingFor")) {
        if (*waiting == kWaitServer) {
            job.waitingFor = UploadWait::server;
        } else if (*waiting == kWaitSignIn) {
            job.waitingFor = UploadWait::signIn;
        }
    }
    if (const Json* since = optionalValue(object, "waitingSince")) {
        job.waitingSince = ReferenceDate{asDouble(*since)};
    }
    return job;
}

} // namespace

bool isUUIDText(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPlace ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

std::string encodeUploadJobs(const std::vector<UploadJob>& jobs) {
    Json array = Json::array();
    for (const UploadJob& job : jobs) {
        array.push_back(encodeJob(job));
    }
    return array.dump();
}

namespace {

// The texts of the objects at the top level of a JSON array that may be cut off or mixed with
// foreign bytes: every balanced {...} found at depth one, strings and escapes respected.
std::vector<std::string_view> topLevelObjects(std::string_view text) {
    std::vector<std::string_view> objects;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    std::size_t objectStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = depth > 0;
        } else if (c == '{' || c == '[') {
            if (depth == 1 && c == '{') {
                objectStart = i;
            }
            ++depth;
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
            if (depth == 1 && c == '}') {
                objects.push_back(text.substr(objectStart, i - objectStart + 1));
            }
        }
    }
    return objects;
}

} // namespace

DecodedUploadJobs decodeUploadJobs(std::string_view text) {
    DecodedUploadJobs result;
    const auto take = [&result](const Json& element) {
        try {
            result.jobs.push_back(decodeJob(element));
        } catch (const std::exception&) {
            ++result.undecodableEntries;
        }
    };
    Json document;
    try {
        document = Json::parse(text);
    } catch (const std::exception&) {
        document = Json();
    }
    if (document.is_array()) {
        for (const Json& element : document) {
            take(element);
        }
        return result;
    }
    result.damaged = true;
    for (const std::string_view object : topLevelObjects(text)) {
        try {
            take(Json::parse(object));
        } catch (const std::exception&) {
            ++result.undecodableEntries;
        }
    }
    return result;
}

std::vector<UploadJob> orderLoadedJobs(std::vector<UploadJob> fileJobs) {
    std::vector<UploadJob> completed;
    std::vector<UploadJob> others;
    for (UploadJob& job : fileJobs) {
        (job.state == UploadState::completed ? completed : others).push_back(std::move(job));
    }
    std::vector<UploadJob> result;
    result.reserve(std::min(completed.size(), kMaxCompletedJobsKeptAtLoad) + others.size());
    const std::size_t firstKept =
        completed.size() > kMaxCompletedJobsKeptAtLoad ? completed.size() - kMaxCompletedJobsKeptAtLoad : 0;
    std::move(completed.begin() + static_cast<std::ptrdiff_t>(firstKept), completed.end(),
              std::back_inserter(result));
    std::move(others.begin(), others.end(), std::back_inserter(result));
    std::stable_sort(result.begin(), result.end(),
                     [](const UploadJob& a, const UploadJob& b) { return a.createdAt < b.createdAt; });
    return result;
}

} // namespace veltrane
