#include "UploadManagerTestSupport.h"

namespace veltrane::test {

TestIngestServer::TestIngestServer() {
    server_.set_keep_alive_max_count(1);
    server_.Post("/api/v1/ingestion/upload",
                 [this](const httplib::Request& request, httplib::Response& response) {
                     std::unique_lock lock(mutex_);
                     const std::size_t index = arrived_++;
                     released_.wait(lock, [&] { return !holding_ || stopping_ || releasedCount_ > index; });
                     received_.push_back(Received{request.headers, request.files});
                     Answer answer;
                     if (!answers_.empty()) {
                         answer = answers_.front();
                         answers_.pop_front();
                     }
                     response.status = answer.status;
                     if (!answer.body.empty()) {
                         response.set_content(answer.body, "text/plain");
                     }
                 });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestIngestServer::~TestIngestServer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    released_.notify_all();
    server_.stop();
    thread_.join();
}

QUrl TestIngestServer::apiBaseUrl() const {
    return QUrl(QString("http://127.0.0.1:%1/api/v1").arg(port_));
}

void TestIngestServer::script(std::deque<Answer> answers) {
    const std::lock_guard lock(mutex_);
    answers_ = std::move(answers);
}

void TestIngestServer::holdRequests() {
    const std::lock_guard lock(mutex_);
    holding_ = true;
}

void TestIngestServer::releaseOne() {
    {
        const std::lock_guard lock(mutex_);
        ++releasedCount_;
    }
    released_.notify_all();
}

std::vector<TestIngestServer::Received> TestIngestServer::received() const {
    const std::lock_guard lock(mutex_);
    return received_;
}

std::size_t TestIngestServer::arrivedCount() const {
    const std::lock_guard lock(mutex_);
    return arrived_;
}

} // namespace veltrane::test
