#include "devserver/FaultInjector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace veltrane::devserver {

namespace {

struct Endpoint {
    std::string address;
    int port = -1;
};

[[nodiscard]] std::optional<Endpoint> endpointOf(const sockaddr_storage& address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (address.ss_family == AF_INET) {
        const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &ipv4.sin_addr, text.data(), text.size());
        return Endpoint{text.data(), ntohs(ipv4.sin_port)};
    }
    if (address.ss_family == AF_INET6) {
        const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &ipv6.sin6_addr, text.data(), text.size());
        return Endpoint{text.data(), ntohs(ipv6.sin6_port)};
    }
    return std::nullopt;
}

// The accepted socket whose local port and peer match the request's.
[[nodiscard]] bool isConnectionOf(int fd, const httplib::Request& request) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode)) {
        return false;
    }
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localLength = sizeof(local);
    socklen_t peerLength = sizeof(peer);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
        return false;
    }
    const auto localEnd = endpointOf(local);
    const auto peerEnd = endpointOf(peer);
    return localEnd && peerEnd && localEnd->port == request.local_port &&
           peerEnd->port == request.remote_port && peerEnd->address == request.remote_addr;
}

[[nodiscard]] int socketOf(const httplib::Request& request) {
    if (request.ssl != nullptr) {
        return SSL_get_fd(request.ssl);
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        if (isConnectionOf(fd, request)) {
            return fd;
        }
    }
    return -1;
}

} // namespace

bool ConnectionCloser::close(const httplib::Request& request) {
    const int fd = socketOf(request);
    return fd >= 0 && ::shutdown(fd, SHUT_RDWR) == 0;
}

FaultInjector::FaultInjector(const FaultOptions& options) : options_(options), engine_(options.randomSeed) {}

void FaultInjector::setOptions(const FaultOptions& options) {
    std::scoped_lock lock(mutex_);
    options_ = options;
    engine_.seed(options.randomSeed);
}

FaultOptions FaultInjector::options() const {
    std::scoped_lock lock(mutex_);
    return options_;
}

UploadFault FaultInjector::drawUploadFault() {
    std::scoped_lock lock(mutex_);
    if (options_.uploadFailurePercent <= 0) {
        return {};
    }
    std::uniform_int_distribution<int> percent(0, 99);
    if (percent(engine_) >= options_.uploadFailurePercent) {
        return {};
    }
    if (options_.uploadFailureClosesConnection) {
        return {.kind = UploadFaultKind::closeConnection};
    }
    return {.kind = UploadFaultKind::status, .status = options_.uploadFailureStatus};
}

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
