#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::bench {

// The baseline: the ffmpeg command line encoding a raw f32le stereo 48 kHz file with the
// same encoder and bit rate as the writer.
class CommandLineEncodeRun {
public:
    // encoderArguments e.g. {"-c:a", "aac", "-b:a", "192000", "-f", "ipod"}.
    CommandLineEncodeRun(std::filesystem::path rawInput, std::vector<std::string> encoderArguments,
                         std::filesystem::path output);

    // Runs ffmpeg to the end; true when it exited with status 0. The caller measures it as a
    // child process.
    [[nodiscard]] bool run(std::string& failure) const;

private:
    std::filesystem::path rawInput_;
    std::vector<std::string> encoderArguments_;
    std::filesystem::path output_;
};

} // namespace veltrane::bench
