#include "support/CannedHttpServer.h"

#include <chrono>
#include <optional>
#include <stdexcept>

namespace veltrane::test {

std::string RecordedRequest::header(const std::string& name) const {
    const auto found = headers.find(name);
    return found == headers.end() ? std::string() : found->second;
}

CannedHttpServer::Handler CannedHttpServer::answering(int status, std::string body) {
    return [status, body = std::move(body)](const RecordedRequest&, httplib::Response& response) {
        response.status = status;
        response.body = body;
    };
}

CannedHttpServer::CannedHttpServer(Handler handler) : handler_(std::move(handler)) {
    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
        answer(request, response);
    };
    server_.Get(".*", handle).Post(".*", handle);
    server_.set_keep_alive_max_count(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("the canned server could not bind");
    }
    // The socket already listens; connections wait in its backlog until the loop accepts them.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() only reaches a server whose accept loop runs, so wait for the loop before going on.
    for (int attempt = 0; attempt < 10'000 && !server_.is_running(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void CannedHttpServer::answer(const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded{request.method, request.path, request.target, request.headers, request.body};
    std::optional<CannedReply> reply;
    {
        std::unique_lock lock(mutex_);
        const std::size_t index = requests_.size();
        requests_.push_back(recorded);
        released_.wait(lock, [&] { return !holding_ || stopping_ || releasedCount_ > index; });
        if (!script_.empty()) {
            reply = script_.front();
            script_.pop_front();
        }
    }
    if (!reply) {
        handler_(recorded, response);
        return;
    }
    response.status = reply->status;
    if (!reply->body.empty()) {
        response.set_content(reply->body, "text/plain");
    }
}

CannedHttpServer::~CannedHttpServer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    released_.notify_all();
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CannedHttpServer::script(std::deque<CannedReply> replies) {
    const std::lock_guard lock(mutex_);
    script_ = std::move(replies);
}

void CannedHttpServer::holdRequests() {
    const std::lock_guard lock(mutex_);
    holding_ = true;
}

void CannedHttpServer::releaseOne() {
    {
        const std::lock_guard lock(mutex_);
        ++releasedCount_;
    }
    released_.notify_all();
}

QString CannedHttpServer::baseURL() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

std::vector<RecordedRequest> CannedHttpServer::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t CannedHttpServer::count(const std::string& prefix) const {
    const std::lock_guard lock(mutex_);
    std::size_t found = 0;
    for (const RecordedRequest& request : requests_) {
        found += request.path.starts_with(prefix) ? 1 : 0;
    }
    return found;
}

} // namespace veltrane::test
