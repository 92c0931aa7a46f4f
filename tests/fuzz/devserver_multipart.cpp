// The stand-in server's upload endpoint reading a multipart/form-data body: the input's first line
// is the Content-Type value, the rest the body. The request goes through the HTTP server's own
// request processing (with an in-memory connection) into the real upload routes, authenticated
// and with a known project, so that complete forms are stored.
#include "devserver/FaultInjector.h"
#include "devserver/Records.h"
#include "devserver/Routes.h"
#include "devserver/Stores.h"

#include <httplib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

using namespace veltrane::devserver;

constexpr const char* kToken = "fuzz-token";

// A connection whose incoming bytes are a fixed request; what the server writes is dropped.
class RequestStream : public httplib::Stream {
public:
    explicit RequestStream(std::string bytes) : bytes_(std::move(bytes)) {}

    bool is_readable() const override { return true; }
    bool is_writable() const override { return true; }
    ssize_t read(char* ptr, std::size_t size) override {
        const std::size_t count = std::min(size, bytes_.size() - position_);
        std::memcpy(ptr, bytes_.data() + position_, count);
        position_ += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(const char*, std::size_t size) override { return static_cast<ssize_t>(size); }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 40000;
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = "127.0.0.1";
        port = 8000;
    }
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
};

class InMemoryServer : public httplib::Server {
public:
    bool serve(httplib::Stream& stream) {
        bool closed = false;
        return process_request(stream, true, closed, nullptr);
    }
};

struct Rig {
    std::filesystem::path dataDir = std::filesystem::temp_directory_path() / "veltrane-fuzz-uploads";
    IDGenerator ids;
    SessionRegistry sessions;
    Authenticator authenticator{sessions};
    ProjectCatalog catalog{
        {ProjectRecord{"p1", "Project", std::nullopt, "active", std::nullopt, std::nullopt}},
        {MeetingRecord{"m1", "p1", "Meeting", std::nullopt, std::nullopt, std::nullopt}}};
    FaultInjector faults{FaultOptions{}};
    RequestLog log{false};
    UploadStore store{dataDir, ids};
    UploadRoutes routes{store, catalog, authenticator, faults, log, ids};
    InMemoryServer server;

    Rig() {
        std::filesystem::remove_all(dataDir);
        (void)store.prepare();
        (void)sessions.open(kToken, "s1", "u1");
        routes.registerOn(server);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = std::min(input.find('\n'), input.size());
    const std::string contentType = input.substr(0, lineEnd);
    const std::string body = lineEnd < input.size() ? input.substr(lineEnd + 1) : std::string();
    RequestStream stream(
        "POST /api/v1/ingestion/upload HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer " +
        std::string(kToken) + "\r\nContent-Type: " + contentType +
        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    (void)rig.server.serve(stream);
    // Stored files are not kept between inputs.
    std::filesystem::remove_all(rig.dataDir / "p1");
    return 0;
}
