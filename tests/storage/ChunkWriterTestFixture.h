#pragma once

#include "platform/core/UUID.h"
#include "storage/ChunkedAudioWriter.h"
#include "storage/FakeMediaFileWriter.h"
#include "support/CliProcess.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <mutex>

namespace veltrane::test {

// What a chunk writer reported, in order (from any thread).
class ChunkEventLog {
public:
    struct Event {
        std::optional<std::filesystem::path> finishedPath;
        std::optional<ChunkWriterError> error;
    };

    void attach(ChunkedAudioWriter& writer) {
        writer.onChunkFinished = [this](const std::filesystem::path& path) { add({path, std::nullopt}); };
        writer.onError = [this](const ChunkWriterError& error) { add({std::nullopt, error}); };
    }
    [[nodiscard]] std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    [[nodiscard]] std::vector<std::filesystem::path> finishedPaths() const {
        return pick(&Event::finishedPath);
    }
    [[nodiscard]] std::vector<ChunkWriterError> errors() const { return pick(&Event::error); }

private:
    template <typename T> [[nodiscard]] std::vector<T> pick(std::optional<T> Event::*field) const {
        std::vector<T> picked;
        for (const auto& event : events()) {
            if (event.*field) {
                picked.push_back(*(event.*field));
            }
        }
        return picked;
    }
    void add(Event event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// A chunk writer over fake media writers in a fresh folder, with a wall clock the test sets.
class ChunkWriterTest : public ::testing::Test {
public:
    // 2025-03-14 09:26:53 UTC.
    static constexpr std::int64_t kBaseEpochSeconds = 1741944413;

    // "yyyy-MM-dd-HHmmss" in local time, computed independently of the code under test.
    [[nodiscard]] static std::string localDate() {
        return QDateTime::fromSecsSinceEpoch(kBaseEpochSeconds).toString("yyyy-MM-dd-HHmmss").toStdString();
    }
    // The name of a chunk recorded by "studio7" at the base time.
    [[nodiscard]] static std::string chunkName(const std::string& numberAndMark) {
        return "studio7-" + localDate() + "-chunk-" + numberAndMark + ".wav";
    }

protected:
    void SetUp() override { std::filesystem::create_directories(directory_); }
    // Between the cases of one test.
    void emptyDirectory() {
        factory_->waitForCompletions();
        std::filesystem::remove_all(directory_);
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override {
        factory_->waitForCompletions();
        std::filesystem::remove_all(directory_);
    }

    [[nodiscard]] ChunkedAudioWriter::Configuration configuration() const {
        return {.deviceID = deviceID_,
                .directory = directory_,
                .chunkDuration = 60.0,
                .outputSettings = AudioOutputSettings::wav16Stereo48k(),
                .fileType = MediaFileType::wave,
                .fileExtension = "wav",
                .filing = std::nullopt};
    }
    [[nodiscard]] std::shared_ptr<ChunkedAudioWriter>
    makeWriter(std::optional<ChunkedAudioWriter::Configuration> c = {}) {
        auto writer =
            std::make_shared<ChunkedAudioWriter>(c.value_or(configuration()), factory_, [now = now_] {
                return std::chrono::system_clock::time_point(std::chrono::seconds(now->load()));
            });
        events_->attach(*writer);
        return writer;
    }

    // A 10 ms buffer (480 frames) at the given presentation time, carrying 8 bytes.
    [[nodiscard]] static SampleBufferPtr bufferAt(const MediaTime& pts) {
        return std::make_shared<const SampleBuffer>(StreamDescription::interleavedFloat(48000.0, 2),
                                                    std::vector<std::byte>(8, std::byte{0x5A}), 480, pts);
    }
    [[nodiscard]] static MediaTime seconds(double value) {
        return MediaTime::make(std::llround(value * 48000), 48000);
    }

    // rotateIfNeeded() then append(), expecting both to succeed.
    static void feed(ChunkedAudioWriter& writer, const MediaTime& pts) {
        const auto rotated = writer.rotateIfNeeded(pts);
        ASSERT_TRUE(rotated.has_value()) << rotated.error().fullDescription();
        ASSERT_TRUE(writer.append(bufferAt(pts)));
    }
    // Closes the last chunk and waits for every finish.
    void finish(ChunkedAudioWriter& writer) {
        writer.closeCurrentChunk(ChunkClose::final);
        factory_->waitForCompletions();
    }

    [[nodiscard]] std::vector<std::string> filesInDirectory() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path directory_ =
        std::filesystem::temp_directory_path() / ("veltrane-storage-" + makeUUIDString());
    std::shared_ptr<FakeMediaFileWriterFactory> factory_ = std::make_shared<FakeMediaFileWriterFactory>();
    std::shared_ptr<ChunkEventLog> events_ = std::make_shared<ChunkEventLog>();
    std::shared_ptr<std::atomic<std::int64_t>> now_ =
        std::make_shared<std::atomic<std::int64_t>>(kBaseEpochSeconds);
    std::string deviceID_ = "studio7";
};

} // namespace veltrane::test
