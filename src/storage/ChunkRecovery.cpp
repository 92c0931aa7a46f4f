#include "storage/ChunkRecovery.h"

#include "platform/core/Log.h"
#include "platform/core/UUID.h"
#include "storage/AtomicFileWriter.h"
#include "storage/ChunkFileName.h"

#include <nlohmann/json.hpp>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>
#include <type_traits>

namespace veltrane {

namespace {

constexpr std::string_view kRecordSuffix = ".partial.json";
// A record's temporary that is older than this was left by a process that died while writing
// it (writing one takes milliseconds).
constexpr auto kStaleTemporaryAge = std::chrono::minutes(1);

std::string readSmallFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::string currentBootID() {
    std::string id = readSmallFile("/proc/sys/kernel/random/boot_id");
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) {
        id.pop_back();
    }
    return id;
}

// The process's state letter and start time from /proc/<pid>/stat; the name in parentheses
// may itself hold spaces and parentheses, so fields are counted after the last ')'.
struct ProcStat {
    char state = '?';
    std::int64_t startTicks = 0;
};

std::optional<ProcStat> readProcStat(std::int64_t processID) {
    const std::string stat = readSmallFile("/proc/" + std::to_string(processID) + "/stat");
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(nameEnd + 1));
    ProcStat result;
    fields >> result.state;
    std::string skipped;
    for (int field = 4; field < 22 && fields >> skipped; ++field) {
    }
    if (!(fields >> result.startTicks)) {
        return std::nullopt;
    }
    return result;
}

// The member `key` of `object` when it is there and of type T, else `fallback`.
template <typename T> T member(const nlohmann::json& object, const char* key, T fallback = {}) {
    if (!object.is_object()) {
        return fallback;
    }
    const auto found = object.find(key);
    if (found == object.end()) {
        return fallback;
    }
    if constexpr (std::is_same_v<T, nlohmann::json>) {
        return *found;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return found->is_string() ? found->template get<std::string>() : fallback;
    } else {
        return found->is_number_integer() ? found->template get<T>() : fallback;
    }
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? std::optional(found->get<std::string>())
                                                       : std::nullopt;
}

void insertOptional(nlohmann::json& object, const char* key, const std::optional<std::string>& value) {
    if (value) {
        object[key] = *value;
    }
}

MediaFileType fileTypeOf(const std::string& extension) {
    return extension == "m4a" ? MediaFileType::appleM4A : MediaFileType::wave;
}

void removeStaleRecordTemporaries(const std::filesystem::path& directory) {
    std::error_code error;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        const auto target = AtomicFileWriter::targetOfTemporary(name);
        std::error_code timeError;
        const auto modified = entry.last_write_time(timeError);
        if (target && target->ends_with(kRecordSuffix) && !timeError && now - modified > kStaleTemporaryAge) {
            std::filesystem::remove(entry.path(), timeError);
        }
    }
}

// Moves a partial that cannot be repaired (and its recovery copy) where the user sees it,
// under a name that says what it is. Returns the new name, or the old path when it stays.
std::filesystem::path keepAside(const std::filesystem::path& partial, const PartialChunkRecord& record) {
    const std::string uuid = makeUUIDString();
    const std::filesystem::path aside =
        partial.parent_path() /
        (record.stem + "-unrecoverable-" + uuid.substr(0, 8) + "." + record.extension + ".partial");
    if (moveWithoutReplacing(partial, aside)) {
        return partial;
    }
    const std::filesystem::path copy = recoveryCopyPath(partial);
    std::error_code error;
    if (std::filesystem::exists(copy, error)) {
        (void)moveWithoutReplacing(copy, recoveryCopyPath(aside));
    }
    PartialChunkRecord::removeBeside(partial);
    return aside;
}

std::optional<RecoveredChunk> recoverOne(const std::filesystem::path& partial,
                                         const PartialChunkRecord& record, MediaFileWriterFactory& repairer) {
    const std::string number = std::to_string(record.chunkNumber);
    const auto repaired = repairer.repairInterrupted(partial, fileTypeOf(record.extension));
    if (!repaired) {
        const std::filesystem::path aside = keepAside(partial, record);
        logWarning(lcStorage(), "⚠️ Interrupted chunk " + number + " could not be repaired (" +
                                    repaired.error().localizedDescription + "); kept as " +
                                    aside.filename().string());
        return std::nullopt;
    }
    if (*repaired == RepairOutcome::holdsNoAudio) {
        removePartialFile(partial);
        logInfo(lcStorage(), "♻️ Interrupted chunk " + number + " held no audio; removed");
        return std::nullopt;
    }
    const ChunkFileName name(record.stem + std::string(ChunkFileName::mark(record.chunkNumber, true)),
                             record.extension);
    std::filesystem::path target = partial.parent_path() / name.fileName();
    std::error_code moveError = moveWithoutReplacing(partial, target);
    if (moveError == std::errc::file_exists) {
        target = partial.parent_path() / name.collisionFileName(makeUUIDString());
        moveError = moveWithoutReplacing(partial, target);
    }
    if (moveError) {
        // Repaired but nameless: the record stays, so the next start tries again.
        logWarning(lcStorage(), "⚠️ Recovered chunk " + number + " stays in " +
                                    partial.filename().string() + ": " + moveError.message());
        return std::nullopt;
    }
    PartialChunkRecord::removeBeside(partial);
    logInfo(lcStorage(), "♻️ Chunk recovered: " + target.filename().string());
    return RecoveredChunk{target, record.filing};
}

} // namespace

ProcessIdentity ProcessIdentity::current() {
    // Read once: none of it changes while the process runs.
    static const ProcessIdentity identity = [] {
        ProcessIdentity self;
        self.processID = ::getpid();
        if (const auto stat = readProcStat(self.processID)) {
            self.startTicks = stat->startTicks;
        }
        self.bootID = currentBootID();
        return self;
    }();
    return identity;
}

bool ProcessIdentity::isRunning() const {
    if (processID <= 0 || bootID != currentBootID()) {
        return false; // numbers of an earlier boot say nothing about this one
    }
    if (const auto stat = readProcStat(processID)) {
        return stat->startTicks == startTicks && stat->state != 'Z' && stat->state != 'X';
    }
    std::error_code error;
    if (std::filesystem::exists("/proc/self/stat", error)) {
        return false; // /proc works and the process is not in it
    }
    return ::kill(static_cast<pid_t>(processID), 0) == 0 || errno == EPERM;
}

QByteArray PartialChunkRecord::toJson() const {
    nlohmann::json object = {
        {"stem", stem},
        {"chunkNumber", chunkNumber},
        {"extension", extension},
        {"owner",
         {{"processId", owner.processID}, {"startTicks", owner.startTicks}, {"bootId", owner.bootID}}}};
    if (filing) {
        nlohmann::json filed = {{"projectId", filing->projectId}};
        insertOptional(filed, "projectName", filing->projectName);
        insertOptional(filed, "meetingId", filing->meetingId);
        insertOptional(filed, "meetingName", filing->meetingName);
        object["filing"] = std::move(filed);
    }
    return QByteArray::fromStdString(object.dump());
}

std::optional<PartialChunkRecord> PartialChunkRecord::fromJson(const QByteArray& json) {
    const nlohmann::json object =
        nlohmann::json::parse(json.constBegin(), json.constEnd(), nullptr, /*allow_exceptions=*/false);
    const nlohmann::json owner = member<nlohmann::json>(object, "owner");
    PartialChunkRecord record;
    record.stem = member<std::string>(object, "stem");
    record.chunkNumber = member<decltype(record.chunkNumber)>(object, "chunkNumber");
    record.extension = member<std::string>(object, "extension");
    record.owner.processID = member<decltype(record.owner.processID)>(owner, "processId");
    record.owner.startTicks = member<decltype(record.owner.startTicks)>(owner, "startTicks");
    record.owner.bootID = member<std::string>(owner, "bootId");
    // The stem becomes a file name: it must stay one name inside the folder.
    const bool safeStem =
        !record.stem.empty() && record.stem.find('/') == std::string::npos && record.stem.front() != '.';
    if (!safeStem || record.chunkNumber < 1 || (record.extension != "wav" && record.extension != "m4a") ||
        record.owner.processID <= 0) {
        return std::nullopt;
    }
    if (const nlohmann::json filing = member<nlohmann::json>(object, "filing"); filing.is_object()) {
        const auto projectId = optionalString(filing, "projectId");
        if (!projectId) {
            return std::nullopt;
        }
        record.filing =
            ChunkFiling{*projectId, optionalString(filing, "projectName"),
                        optionalString(filing, "meetingId"), optionalString(filing, "meetingName")};
    }
    return record;
}

std::filesystem::path PartialChunkRecord::pathBeside(const std::filesystem::path& partialPath) {
    std::filesystem::path record = partialPath;
    record += ".json";
    return record;
}

std::error_code PartialChunkRecord::writeBeside(const std::filesystem::path& partialPath) const {
    AtomicFileWriter writer(pathBeside(partialPath));
    const QByteArray json = toJson();
    if (writer.open() && writer.write(std::string_view(json.constData(), json.size())) && writer.commit()) {
        return {};
    }
    return writer.error() ? writer.error() : std::make_error_code(std::errc::io_error);
}

void PartialChunkRecord::removeBeside(const std::filesystem::path& partialPath) {
    std::error_code ignored;
    std::filesystem::remove(pathBeside(partialPath), ignored);
}

std::vector<RecoveredChunk> recoverInterruptedChunks(const std::filesystem::path& directory,
                                                     MediaFileWriterFactory& repairer,
                                                     FiledChunks filedChunks) {
    removeStaleRecordTemporaries(directory);
    std::vector<std::filesystem::path> records;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with('.') && name.ends_with(kRecordSuffix)) {
            records.push_back(entry.path());
        }
    }
    std::vector<RecoveredChunk> recovered;
    for (const auto& recordPath : records) {
        const std::filesystem::path partial = recordPath.parent_path() / recordPath.stem(); // drops ".json"
        const auto record =
            PartialChunkRecord::fromJson(QByteArray::fromStdString(readSmallFile(recordPath)));
        if (!record) {
            logWarning(lcStorage(), "⚠️ Unreadable recovery record " + recordPath.filename().string() +
                                        "; its chunk is left as it is");
            continue;
        }
        if (record->owner.isRunning() || (record->filing && filedChunks == FiledChunks::leave)) {
            continue;
        }
        if (!std::filesystem::exists(partial, error)) {
            PartialChunkRecord::removeBeside(partial); // the chunk got its name before the process died
            std::filesystem::remove(recoveryCopyPath(partial), error);
            continue;
        }
        if (auto chunk = recoverOne(partial, *record, repairer)) {
            recovered.push_back(std::move(*chunk));
        }
    }
    std::sort(recovered.begin(), recovered.end(),
              [](const RecoveredChunk& a, const RecoveredChunk& b) { return a.path < b.path; });
    return recovered;
}

} // namespace veltrane
