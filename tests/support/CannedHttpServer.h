#pragma once

#include <httplib.h>

#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrane::test {

// One request as the canned server saw it.
struct RecordedRequest {
    std::string method;
    std::string path;         // without the query
    std::string target;       // as sent: path and query, still encoded
    httplib::Headers headers; // names compared without case
    std::string body;

    [[nodiscard]] std::string header(const std::string& name) const;
};

struct CannedReply {
    int status = 200;
    std::string body;
};

// A cpp-httplib server on 127.0.0.1 (any free port) in its own thread that records every request
// and answers it with the next scripted reply or else with `handler`. Connections are closed after
// each answer, so that stopping never waits for an idle client.
class CannedHttpServer {
public:
    using Handler = std::function<void(const RecordedRequest&, httplib::Response&)>;

    explicit CannedHttpServer(Handler handler = answering(200, ""));
    ~CannedHttpServer();
    CannedHttpServer(const CannedHttpServer&) = delete;
    CannedHttpServer& operator=(const CannedHttpServer&) = delete;

    // A handler that gives every request the same answer.
    [[nodiscard]] static Handler answering(int status, std::string body);

    // The next requests get these replies, in order; then the handler answers again.
    void script(std::deque<CannedReply> replies);
    // From now on every request waits until releaseOne() lets it through, in order of arrival.
    void holdRequests();
    void releaseOne();

    [[nodiscard]] int port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>".
    [[nodiscard]] QString baseURL() const;
    [[nodiscard]] std::vector<RecordedRequest> requests() const;
    // Requests whose path starts with `prefix`.
    [[nodiscard]] std::size_t count(const std::string& prefix = "/") const;

private:
    void answer(const httplib::Request& request, httplib::Response& response);

    Handler handler_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::vector<RecordedRequest> requests_;
    std::deque<CannedReply> script_;
    bool holding_ = false;
    bool stopping_ = false;
    std::size_t releasedCount_ = 0;
};

} // namespace veltrane::test
