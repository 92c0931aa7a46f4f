#include "platform/core/Log.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace veltrane {

namespace {

std::atomic<std::FILE*> logStream{stdout};

} // namespace

void logLine(std::string_view text) {
    std::string entry;
    entry.reserve(text.size() + 1);
    entry.append(text);
    entry.push_back('\n');
    // stdio locks the stream for the duration of one call.
    std::fwrite(entry.data(), 1, entry.size(), logStream.load(std::memory_order_relaxed));
}

void sendLogToStandardError() {
    logStream.store(stderr, std::memory_order_relaxed);
}

void enableLineBufferedStdout() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

} // namespace veltrane
