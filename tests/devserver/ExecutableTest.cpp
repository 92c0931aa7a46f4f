#include "TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <string>
#include <vector>

extern char** environ;

namespace veltrane::devserver {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

// Reads from the descriptor up to and including the next line break, or to the end.
[[nodiscard]] std::string readLine(int fd) {
    std::string line;
    char c = 0;
    while (::read(fd, &c, 1) == 1) {
        line.push_back(c);
        if (c == '\n') {
            break;
        }
    }
    return line;
}

[[nodiscard]] std::string readAll(int fd) {
    std::string text;
    std::array<char, 4096> buffer{};
    for (ssize_t n = 0; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
        text.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return text;
}

TEST(ExecutableTest, AnnouncesItsAddressLogsRequestsAndEndsCleanlyOnSigterm) {
    TempDir folder;
    std::array<int, 2> pipeEnds{};
    ASSERT_EQ(::pipe(pipeEnds.data()), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    const std::string dataDir = (folder.path() / "data").string();
    std::vector<std::string> arguments = {DEVSERVER_EXECUTABLE, "--port", "0", "--data", dataDir};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, DEVSERVER_EXECUTABLE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);

    const std::string announcement = readLine(pipeEnds[0]);
    EXPECT_THAT(announcement, MatchesRegex("Listening on http://127\\.0\\.0\\.1:[0-9]+\n"));
    const std::size_t colon = announcement.rfind(':');
    const int port = colon == std::string::npos ? 0 : std::atoi(announcement.c_str() + colon + 1);
    if (port > 0) {
        httplib::Client client("127.0.0.1", port);
        const auto result = client.Get("/api/v1/projects?status=active");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 401);
    }

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_THAT(readAll(pipeEnds[0]), HasSubstr("GET /api/v1/projects?status=active 401 "));
    ::close(pipeEnds[0]);
}

} // namespace
} // namespace veltrane::devserver
