#pragma once

#include <filesystem>

namespace veltrane::bench {

// Many chunk files through the upload manager while the in-process stand-in server fails a share
// of the uploads (500s, dropped connections and 401s, switching over time). A scaled clock and
// timer shorten the back-off; jobs that end failed are brought back with retryAll. Prints its
// counts; returns false when a chunk was lost, got stuck or arrived altered.
class SoakRun {
public:
    struct Settings {
        int files = 40;
        int failurePercent = 30;
        double timeScale = 16.0;
    };

    [[nodiscard]] static bool run(const Settings& settings, const std::filesystem::path& workDirectory);
};

} // namespace veltrane::bench
