#pragma once

#include "upload/UploadTiming.h"

#include <httplib.h>

#include <QUrl>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace veltrane::test {

// Wall clock the test moves by hand.
class FakeUploadClock final : public UploadClock {
public:
    [[nodiscard]] ReferenceDate now() const override { return now_; }
    void advance(double seconds) { now_ = now_.addingSeconds(seconds); }

private:
    ReferenceDate now_{700000000.0};
};

// Retry timer the test fires by hand; remembers the last delay it was armed with.
class FakeRetryTimer final : public RetryTimer {
public:
    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override {
        delay_ = delay;
        fire_ = std::move(fire);
        ++armCount_;
    }
    void cancel() override { fire_ = nullptr; }
    [[nodiscard]] bool isArmed() const override { return static_cast<bool>(fire_); }
    [[nodiscard]] std::chrono::milliseconds delay() const { return delay_; }
    [[nodiscard]] int armCount() const { return armCount_; }
    void fire() {
        auto fire = std::move(fire_);
        fire_ = nullptr;
        if (fire) {
            fire();
        }
    }

private:
    std::function<void()> fire_;
    std::chrono::milliseconds delay_{0};
    int armCount_ = 0;
};

// The ingestion endpoint on 127.0.0.1 and a free port, with scripted answers and an optional
// gate that holds each request until the test releases it.
class TestIngestServer {
public:
    struct Received {
        httplib::Headers headers;
        httplib::MultipartFormDataMap parts;
    };
    struct Answer {
        int status = 201;
        std::string body;
    };

    TestIngestServer();
    ~TestIngestServer();

    [[nodiscard]] QUrl apiBaseUrl() const;
    void script(std::deque<Answer> answers);
    void holdRequests();
    void releaseOne();
    [[nodiscard]] std::vector<Received> received() const;
    [[nodiscard]] std::size_t arrivedCount() const;

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool holding_ = false;
    bool stopping_ = false;
    std::size_t releasedCount_ = 0;
    std::size_t arrived_ = 0;
    std::deque<Answer> answers_;
    std::vector<Received> received_;
};

} // namespace veltrane::test
