#pragma once

#include "storage/ChunkedAudioWriter.h"
#include "storage/FakeMediaFileWriter.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::test {

// What a chunk writer reported, in the order it was reported (from any thread).
class ChunkEventLog {
public:
    struct Event {
        std::optional<std::filesystem::path> finishedPath;
        std::optional<ChunkWriterError> error;
    };

    void attach(ChunkedAudioWriter& writer);

    [[nodiscard]] std::vector<Event> events() const;
    [[nodiscard]] std::vector<std::filesystem::path> finishedPaths() const;
    [[nodiscard]] std::vector<ChunkWriterError> errors() const;

private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// A wall clock the test sets by hand; optionally it moves on one second at every reading.
class ManualClock {
public:
    explicit ManualClock(std::int64_t epochSeconds, bool advancesOnRead = false);

    void set(std::int64_t epochSeconds) { seconds_->store(epochSeconds); }
    [[nodiscard]] ChunkedAudioWriter::WallClock wallClock() const;

private:
    std::shared_ptr<std::atomic<std::int64_t>> seconds_;
    bool advancesOnRead_ = false;
};

class ChunkWriterTest : public ::testing::Test {
public:
    // 2025-03-14 09:26:53 UTC.
    static constexpr std::int64_t kBaseEpochSeconds = 1741944413;
    static constexpr std::int32_t kTimescale = 48000;

    // "yyyy-MM-dd-HHmmss" in local time, computed independently of the code under test.
    [[nodiscard]] static std::string localDate(std::int64_t epochSeconds);

protected:
    void SetUp() override;
    void TearDown() override;

    [[nodiscard]] ChunkedAudioWriter::Configuration configuration() const;
    [[nodiscard]] std::shared_ptr<ChunkedAudioWriter> makeWriter();
    [[nodiscard]] std::shared_ptr<ChunkedAudioWriter>
    makeWriter(ChunkedAudioWriter::Configuration configuration);

    // A 10 ms buffer (480 frames) at the given presentation time, carrying 8 bytes.
    [[nodiscard]] static SampleBufferPtr bufferAt(const MediaTime& pts);
    [[nodiscard]] static MediaTime seconds(double value);
    [[nodiscard]] static MediaTime ticks(std::int64_t value) { return MediaTime::make(value, kTimescale); }

    // rotateIfNeeded() then append(), expecting both to succeed.
    void feed(ChunkedAudioWriter& writer, const MediaTime& pts);

    [[nodiscard]] std::vector<std::string> filesInDirectory() const;

    std::filesystem::path directory_;
    std::shared_ptr<FakeMediaFileWriterFactory> factory_ = std::make_shared<FakeMediaFileWriterFactory>();
    std::shared_ptr<ChunkEventLog> events_ = std::make_shared<ChunkEventLog>();
    ManualClock clock_{kBaseEpochSeconds};
    std::string deviceID_ = "studio7";
};

} // namespace veltrane::test
