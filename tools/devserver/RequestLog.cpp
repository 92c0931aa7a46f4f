#include "devserver/RequestLog.h"

#include <cstdio>

namespace veltrane::devserver {

RequestLog::RequestLog(bool printLines) : printLines_(printLines) {}

void RequestLog::begin(const httplib::Request& request) {
    std::scoped_lock lock(mutex_);
    ++countsByPath_[request.path];
    pending_[&request] = Pending{.startedAt = std::chrono::steady_clock::now()};
}

void RequestLog::markConnectionClosed(const httplib::Request& request) {
    std::scoped_lock lock(mutex_);
    pending_[&request].connectionClosed = true;
}

void RequestLog::finish(const httplib::Request& request, const httplib::Response& response) {
    long long elapsedMs = 0;
    bool connectionClosed = false;
    {
        std::scoped_lock lock(mutex_);
        if (const auto found = pending_.find(&request); found != pending_.end()) {
            elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - found->second.startedAt)
                            .count();
            connectionClosed = found->second.connectionClosed;
            pending_.erase(found);
        }
    }
    if (!printLines_) {
        return;
    }
    const std::string target = request.target.empty() ? request.path : request.target;
    const std::string outcome = connectionClosed ? std::string("closed") : std::to_string(response.status);
    std::string line = request.method + " " + target + " " + outcome + " " +
                       std::to_string(connectionClosed ? 0 : response.body.size()) + " bytes " +
                       std::to_string(elapsedMs) + " ms\n";
    std::scoped_lock lock(mutex_);
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

std::size_t RequestLog::count(const std::string& pathPrefix) const {
    std::scoped_lock lock(mutex_);
    std::size_t total = 0;
    for (const auto& [path, count] : countsByPath_) {
        if (path.starts_with(pathPrefix)) {
            total += count;
        }
    }
    return total;
}

} // namespace veltrane::devserver
