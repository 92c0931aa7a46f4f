#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>

namespace veltrane::bench {

// One large chunk file uploaded by the upload manager and by `curl -F` to the same spawned
// stand-in server, a few rounds each, with our peak resident memory growth during each upload.
// Prints its figures; returns false when the run itself could not be done.
class ThroughputRun {
public:
    struct Settings {
        QString devserverProgram;
        std::uintmax_t fileBytes = 58'000'000;
        int rounds = 3;
    };

    [[nodiscard]] static bool run(const Settings& settings, const std::filesystem::path& workDirectory);
};

} // namespace veltrane::bench
