#pragma once

#include <httplib.h>

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltrane::test {

// One request as the test server saw it.
struct RecordedRequest {
    std::string method;
    std::string path;         // without the query
    std::string target;       // as sent: path and query, still encoded
    httplib::Headers headers; // names compared without case
    std::string body;

    [[nodiscard]] bool hasHeader(const std::string& name) const;
    [[nodiscard]] std::string header(const std::string& name) const;
};

// A cpp-httplib server on 127.0.0.1 (any free port) in its own thread, answering every request
// with `handler` and recording what it received. With a certificate and key it speaks HTTPS.
class TestHttpServer {
public:
    using Handler = std::function<void(const RecordedRequest&, httplib::Response&)>;

    explicit TestHttpServer(Handler handler);
    TestHttpServer(Handler handler, const std::string& certificateFile, const std::string& keyFile);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    [[nodiscard]] int port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>" (or https).
    [[nodiscard]] QString baseUrl() const;
    [[nodiscard]] std::vector<RecordedRequest> requests() const;
    // Requests whose path starts with `prefix`.
    [[nodiscard]] std::size_t count(const std::string& prefix) const;

private:
    void start();

    Handler handler_;
    std::unique_ptr<httplib::Server> server_;
    bool tls_ = false;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
};

} // namespace veltrane::test
