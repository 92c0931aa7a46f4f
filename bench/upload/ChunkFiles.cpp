#include "upload/ChunkFiles.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <vector>

namespace veltrane::bench {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

} // namespace

bool ChunkFiles::write(const std::filesystem::path& path, std::uintmax_t bytes, std::uint32_t seed) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937 random(seed);
    std::vector<char> piece(kPieceBytes);
    std::uintmax_t left = bytes;
    while (out && left > 0) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uintmax_t>(left, piece.size()));
        std::generate_n(piece.begin(), count, [&random] { return static_cast<char>(random() & 0xff); });
        out.write(piece.data(), static_cast<std::streamsize>(count));
        left -= count;
    }
    out.close();
    return static_cast<bool>(out);
}

bool ChunkFiles::identical(const std::filesystem::path& first, const std::filesystem::path& second) {
    std::error_code error;
    if (std::filesystem::file_size(first, error) != std::filesystem::file_size(second, error) || error) {
        return false;
    }
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    std::vector<char> pieceA(kPieceBytes);
    std::vector<char> pieceB(kPieceBytes);
    while (a && b) {
        a.read(pieceA.data(), static_cast<std::streamsize>(pieceA.size()));
        b.read(pieceB.data(), static_cast<std::streamsize>(pieceB.size()));
        if (a.gcount() != b.gcount() ||
            !std::equal(pieceA.begin(), pieceA.begin() + a.gcount(), pieceB.begin())) {
            return false;
        }
    }
    return a.eof() && b.eof();
}

} // namespace veltrane::bench
