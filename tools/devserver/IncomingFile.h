#pragma once

#include <cstddef>
#include <filesystem>
#include <fstream>

namespace veltrane::devserver {

// An uploaded file while its bytes arrive: written to a part file and moved to its place only
// once the whole upload has been accepted. A part file that is never committed is removed.
class IncomingFile {
public:
    explicit IncomingFile(std::filesystem::path partPath);
    ~IncomingFile();
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    void write(const char* data, std::size_t size);
    // False once any write has failed.
    [[nodiscard]] bool good() const { return !failed_; }
    [[nodiscard]] std::size_t sizeBytes() const { return sizeBytes_; }
    // Moves the file to the destination, creating its folder and replacing an earlier file.
    [[nodiscard]] bool commitTo(const std::filesystem::path& destination);

private:
    std::filesystem::path partPath_;
    std::ofstream stream_;
    std::size_t sizeBytes_ = 0;
    bool failed_ = false;
    bool committed_ = false;
};

} // namespace veltrane::devserver
