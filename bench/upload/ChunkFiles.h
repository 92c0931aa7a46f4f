#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace veltrane::bench {

// Chunk-like files for the runs: deterministic pseudo-random bytes, written in pieces so that
// making a large one costs little memory.
class ChunkFiles {
public:
    // Writes `bytes` bytes derived from `seed` to `path`; false on a write error.
    [[nodiscard]] static bool write(const std::filesystem::path& path, std::uintmax_t bytes,
                                    std::uint32_t seed);
    // True when both files exist and hold the same bytes (compared in pieces).
    [[nodiscard]] static bool identical(const std::filesystem::path& first,
                                        const std::filesystem::path& second);
};

} // namespace veltrane::bench
