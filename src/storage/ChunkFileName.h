#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include <QString>

namespace veltrane {

// A device identifier names chunk files: at least two characters, only ASCII letters and digits,
// the last one a digit ("studio7", "mac001").
[[nodiscard]] bool isValidDeviceID(const QString& deviceID);

// The name of a finished chunk file: a stem such as
// "studio7-2025-03-14-092653-chunk-001-START" and the extension without the dot. Also knows the
// names of hidden partial files and of the fallback used when a final name is taken.
class ChunkFileName {
public:
    ChunkFileName(std::string stem, std::string extension);

    // deviceID-<local date yyyy-MM-dd-HHmmss>-chunk-<%03d number><mark>.<extension>
    [[nodiscard]] static ChunkFileName make(std::string_view deviceID,
                                            std::chrono::system_clock::time_point startDate,
                                            std::int64_t chunkNumber, bool isFinal,
                                            std::string_view extension);

    // The stem without its mark: deviceID-<local date>-chunk-<%03d number>.
    [[nodiscard]] static std::string baseStem(std::string_view deviceID,
                                              std::chrono::system_clock::time_point startDate,
                                              std::int64_t chunkNumber);

    // "-START" for chunk 1, "-START-STOP" for a final chunk 1, "-STOP" for any other final
    // chunk, nothing otherwise.
    [[nodiscard]] static std::string_view mark(std::int64_t chunkNumber, bool isFinal);

    // The date in local wall-clock time, 24-hour clock, as "yyyy-MM-dd-HHmmss".
    [[nodiscard]] static std::string formatLocalDate(std::chrono::system_clock::time_point date);

    // "." + uuid + ".partial": hidden, and never listed under a chunk extension.
    [[nodiscard]] static std::string partialFileName(std::string_view uuid);

    [[nodiscard]] const std::string& stem() const { return stem_; }
    [[nodiscard]] std::string fileName() const;
    // stem + "-dup-" + the first 8 characters of `uuid` + "." + extension.
    [[nodiscard]] std::string collisionFileName(std::string_view uuid) const;

private:
    std::string stem_;
    std::string extension_;
};

} // namespace veltrane
