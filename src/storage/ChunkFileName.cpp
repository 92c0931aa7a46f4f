#include "storage/ChunkFileName.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <utility>

namespace veltrane {

bool isValidDeviceID(const QString& deviceID) {
    const auto isAsciiLetterOrDigit = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    };
    return deviceID.size() >= 2 && std::all_of(deviceID.begin(), deviceID.end(), isAsciiLetterOrDigit) &&
           deviceID.back().isDigit();
}

ChunkFileName::ChunkFileName(std::string stem, std::string extension)
    : stem_(std::move(stem)), extension_(std::move(extension)) {}

ChunkFileName ChunkFileName::make(std::string_view deviceID, std::chrono::system_clock::time_point startDate,
                                  std::int64_t chunkNumber, bool isFinal, std::string_view extension) {
    std::string stem = baseStem(deviceID, startDate, chunkNumber);
    stem.append(mark(chunkNumber, isFinal));
    return ChunkFileName(std::move(stem), std::string(extension));
}

std::string ChunkFileName::baseStem(std::string_view deviceID,
                                    std::chrono::system_clock::time_point startDate,
                                    std::int64_t chunkNumber) {
    char number[32] = {};
    std::snprintf(number, sizeof number, "%03lld", static_cast<long long>(chunkNumber));
    std::string stem;
    stem.append(deviceID);
    stem.append("-");
    stem.append(formatLocalDate(startDate));
    stem.append("-chunk-");
    stem.append(number);
    return stem;
}

std::string_view ChunkFileName::mark(std::int64_t chunkNumber, bool isFinal) {
    if (chunkNumber == 1) {
        return isFinal ? "-START-STOP" : "-START";
    }
    return isFinal ? "-STOP" : "";
}

std::string ChunkFileName::formatLocalDate(std::chrono::system_clock::time_point date) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local = {};
    localtime_r(&seconds, &local);
    char text[64] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d-%H%M%S", &local);
    return text;
}

std::string ChunkFileName::partialFileName(std::string_view uuid) {
    std::string name = ".";
    name.append(uuid);
    name.append(".partial");
    return name;
}

std::string ChunkFileName::fileName() const {
    return stem_ + "." + extension_;
}

std::string ChunkFileName::collisionFileName(std::string_view uuid) const {
    return stem_ + "-dup-" + std::string(uuid.substr(0, 8)) + "." + extension_;
}

} // namespace veltrane
