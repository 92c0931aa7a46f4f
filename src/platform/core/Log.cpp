#include "platform/core/Log.h"

#include <cstdio>
#include <string>

namespace veltrane {

void logLine(std::string_view text) {
    std::string entry;
    entry.reserve(text.size() + 1);
    entry.append(text);
    entry.push_back('\n');
    // stdio locks the stream for the duration of one call.
    std::fwrite(entry.data(), 1, entry.size(), stdout);
}

void enableLineBufferedStdout() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

} // namespace veltrane
