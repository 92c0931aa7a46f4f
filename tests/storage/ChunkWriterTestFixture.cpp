#include "storage/ChunkWriterTestFixture.h"

#include "platform/core/Uuid.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace veltrane::test {

void ChunkEventLog::attach(ChunkedAudioWriter& writer) {
    writer.onChunkFinished = [this](const std::filesystem::path& path) {
        std::lock_guard lock(mutex_);
        events_.push_back(Event{path, std::nullopt});
    };
    writer.onError = [this](const ChunkWriterError& error) {
        std::lock_guard lock(mutex_);
        events_.push_back(Event{std::nullopt, error});
    };
}

std::vector<ChunkEventLog::Event> ChunkEventLog::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::filesystem::path> ChunkEventLog::finishedPaths() const {
    std::vector<std::filesystem::path> paths;
    for (const auto& event : events()) {
        if (event.finishedPath) {
            paths.push_back(*event.finishedPath);
        }
    }
    return paths;
}

std::vector<ChunkWriterError> ChunkEventLog::errors() const {
    std::vector<ChunkWriterError> errors;
    for (const auto& event : events()) {
        if (event.error) {
            errors.push_back(*event.error);
        }
    }
    return errors;
}

ManualClock::ManualClock(std::int64_t epochSeconds, bool advancesOnRead)
    : seconds_(std::make_shared<std::atomic<std::int64_t>>(epochSeconds)), advancesOnRead_(advancesOnRead) {}

ChunkedAudioWriter::WallClock ManualClock::wallClock() const {
    return [seconds = seconds_, advances = advancesOnRead_] {
        const std::int64_t now = advances ? seconds->fetch_add(1) : seconds->load();
        return std::chrono::system_clock::time_point(std::chrono::seconds(now));
    };
}

void ChunkWriterTest::SetUp() {
    directory_ = std::filesystem::temp_directory_path() / ("veltrane-storage-test-" + makeUuidString());
    std::filesystem::create_directories(directory_);
}

void ChunkWriterTest::TearDown() {
    factory_->waitForCompletions();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

ChunkedAudioWriter::Configuration ChunkWriterTest::configuration() const {
    ChunkedAudioWriter::Configuration configuration;
    configuration.deviceID = deviceID_;
    configuration.directory = directory_;
    configuration.chunkDuration = 60.0;
    configuration.outputSettings = AudioOutputSettings::wav16Stereo48k();
    configuration.fileType = MediaFileType::Wave;
    configuration.fileExtension = "wav";
    return configuration;
}

std::shared_ptr<ChunkedAudioWriter> ChunkWriterTest::makeWriter() {
    return makeWriter(configuration());
}

std::shared_ptr<ChunkedAudioWriter>
ChunkWriterTest::makeWriter(ChunkedAudioWriter::Configuration configuration) {
    auto writer =
        std::make_shared<ChunkedAudioWriter>(std::move(configuration), factory_, clock_.wallClock());
    events_->attach(*writer);
    return writer;
}

SampleBufferPtr ChunkWriterTest::bufferAt(const MediaTime& pts) {
    return std::make_shared<const SampleBuffer>(StreamDescription::interleavedFloat(48000.0, 2),
                                                std::vector<std::byte>(8, std::byte{0x5A}), 480, pts);
}

MediaTime ChunkWriterTest::seconds(double value) {
    return ticks(static_cast<std::int64_t>(std::llround(value * kTimescale)));
}

void ChunkWriterTest::feed(ChunkedAudioWriter& writer, const MediaTime& pts) {
    const auto rotated = writer.rotateIfNeeded(pts);
    ASSERT_TRUE(rotated.has_value()) << rotated.error().fullDescription();
    ASSERT_TRUE(writer.append(bufferAt(pts)));
}

std::string ChunkWriterTest::localDate(std::int64_t epochSeconds) {
    return QDateTime::fromSecsSinceEpoch(epochSeconds)
        .toString(QStringLiteral("yyyy-MM-dd-HHmmss"))
        .toStdString();
}

std::vector<std::string> ChunkWriterTest::filesInDirectory() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace veltrane::test
