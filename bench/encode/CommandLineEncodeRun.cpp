#include "encode/CommandLineEncodeRun.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace veltrane::bench {

CommandLineEncodeRun::CommandLineEncodeRun(std::filesystem::path rawInput,
                                           std::vector<std::string> encoderArguments,
                                           std::filesystem::path output)
    : rawInput_(std::move(rawInput)), encoderArguments_(std::move(encoderArguments)),
      output_(std::move(output)) {}

bool CommandLineEncodeRun::run(std::string& failure) const {
    std::vector<std::string> arguments = {
        "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f",
        "f32le",  "-ar",      "48000",        "-ac",       "2",     "-i", "file:" + rawInput_.string()};
    arguments.insert(arguments.end(), encoderArguments_.begin(), encoderArguments_.end());
    arguments.push_back("file:" + output_.string());
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    if (const int spawned = posix_spawnp(&child, "ffmpeg", nullptr, nullptr, argv.data(), environ);
        spawned != 0) {
        failure = std::string("cannot start ffmpeg: ") + std::strerror(spawned);
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            failure = std::string("waitpid: ") + std::strerror(errno);
            return false;
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure = "ffmpeg failed with status " + std::to_string(status);
        return false;
    }
    return true;
}

} // namespace veltrane::bench
