#include "devserver/ConnectionCloser.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <array>
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

} // namespace veltrane::devserver
