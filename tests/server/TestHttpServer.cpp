#include "server/TestHttpServer.h"

#include <chrono>
#include <stdexcept>

namespace veltrane::test {

bool RecordedRequest::hasHeader(const std::string& name) const {
    return headers.find(name) != headers.end();
}

std::string RecordedRequest::header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

TestHttpServer::TestHttpServer(Handler handler)
    : handler_(std::move(handler)), server_(std::make_unique<httplib::Server>()) {
    start();
}

TestHttpServer::TestHttpServer(Handler handler, const std::string& certificateFile,
                               const std::string& keyFile)
    : handler_(std::move(handler)),
      server_(std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str())), tls_(true) {
    start();
}

void TestHttpServer::start() {
    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        const RecordedRequest recorded{request.method, request.path, request.target, request.headers,
                                       request.body};
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(recorded);
        }
        handler_(recorded, response);
    };
    server_->Get(".*", handle);
    server_->Post(".*", handle);
    server_->Put(".*", handle);
    server_->Delete(".*", handle);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("test server could not bind");
    }
    // The socket already listens; connections wait in its backlog until the loop accepts them.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only reaches a server whose accept loop runs, so wait for the loop before going on.
    for (int attempt = 0; attempt < 10'000 && !server_->is_running(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestHttpServer::~TestHttpServer() {
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

QString TestHttpServer::baseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(tls_ ? "https" : "http").arg(port_);
}

std::vector<RecordedRequest> TestHttpServer::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t TestHttpServer::count(const std::string& prefix) const {
    const std::lock_guard lock(mutex_);
    std::size_t found = 0;
    for (const RecordedRequest& request : requests_) {
        if (request.path.rfind(prefix, 0) == 0) {
            ++found;
        }
    }
    return found;
}

} // namespace veltrane::test
