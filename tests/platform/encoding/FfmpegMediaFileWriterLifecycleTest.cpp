// Threads and lifetime of the FFmpeg writer: where and how often the completion runs, what
// releasing the writer at awkward moments does, cancelling, and queue readiness.
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

#include "platform/encoding/DecodedAudioFile.h"
#include "platform/encoding/TestSignal.h"
#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::DecodedAudioFile;
using test::TestSignal;

class FfmpegWriterLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            fs::temp_directory_path() / ("veltrane-ffmpeg-life-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    // A writer that has started writing, with one second of audio appended.
    std::pair<std::shared_ptr<MediaFileWriter>, std::shared_ptr<MediaWriterInput>>
    writerWithAudio(const fs::path& path, MediaFileType type = MediaFileType::Wave) {
        auto writer = *factory_.create(path, type);
        auto input =
            writer->makeAudioInput(type == MediaFileType::Wave ? AudioOutputSettings::wav16Stereo48k()
                                                               : AudioOutputSettings::aacStereo48k());
        writer->addInput(input);
        EXPECT_TRUE(writer->startWriting());
        writer->startSession(MediaTime::make(0, 48000));
        for (const auto& buffer : signal_.floatBuffers(480)) {
            EXPECT_TRUE(input->append(buffer));
        }
        return {writer, input};
    }

    const TestSignal signal_{48000};
    FfmpegMediaFileWriterFactory factory_;
    fs::path directory_;
};

TEST_F(FfmpegWriterLifecycleTest, CompletionRunsOnceOnAnotherThreadAfterCompletion) {
    auto [writer, input] = writerWithAudio(directory_ / "a.m4a", MediaFileType::AppleM4A);
    input->markAsFinished();
    std::atomic<int> calls = 0;
    std::atomic<MediaWriterStatus> statusSeen = MediaWriterStatus::Unknown;
    std::mutex threadMutex;
    std::thread::id completionThread;
    writer->finishWriting([&, w = writer.get()] {
        {
            const std::lock_guard lock(threadMutex);
            completionThread = std::this_thread::get_id();
        }
        statusSeen = w->status();
        ++calls;
    });
    ASSERT_TRUE(test::waitUntil([&] { return calls.load() > 0; }));
    // Anything still queued behind the completion has had time to show up by now.
    writer.reset();
    input.reset();
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(statusSeen.load(), MediaWriterStatus::Completed);
    const std::lock_guard lock(threadMutex);
    EXPECT_NE(completionThread, std::this_thread::get_id());
}

TEST_F(FfmpegWriterLifecycleTest, CompletionMayReleaseTheLastReference) {
    const fs::path path = directory_ / "last.wav";
    auto [writer, input] = writerWithAudio(path);
    std::atomic<bool> released = false;
    MediaFileWriter* raw = writer.get();
    // The completion owns the writer and drops it on the writer's own thread.
    raw->finishWriting([owned = std::move(writer), &released]() mutable {
        owned.reset();
        released = true;
    });
    input.reset();
    ASSERT_TRUE(test::waitUntil([&] { return released.load(); }));
    auto decoded = DecodedAudioFile::read(path);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->decodedFrames, signal_.frameCount());
}

TEST_F(FfmpegWriterLifecycleTest, ReleasingRightAfterFinishStillCompletesTheFile) {
    const fs::path path = directory_ / "released.m4a";
    std::atomic<bool> done = false;
    {
        auto [writer, input] = writerWithAudio(path, MediaFileType::AppleM4A);
        input->markAsFinished();
        writer->finishWriting([&done] { done = true; });
    }
    // Shutdown waits for the finish and its completion.
    ASSERT_TRUE(factory_.waitForPendingWriters(std::chrono::seconds(20)));
    EXPECT_TRUE(done.load());
    auto decoded = DecodedAudioFile::read(path);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->codecName, "aac");
    EXPECT_NEAR(decoded->streamDurationSeconds, 1.0, 1e-9);
}

TEST_F(FfmpegWriterLifecycleTest, CancelStopsWritingAndLeavesThePartialFile) {
    const fs::path path = directory_ / "cancelled.wav";
    auto [writer, input] = writerWithAudio(path);
    writer->cancelWriting();
    EXPECT_EQ(writer->status(), MediaWriterStatus::Cancelled);
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    EXPECT_FALSE(input->append(signal_.floatBuffers(480).front()));
    EXPECT_TRUE(fs::exists(path));
    // The status stays cancelled: a late finish neither completes the file nor hangs.
    std::atomic<bool> done = false;
    writer->finishWriting([&done] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
    EXPECT_EQ(writer->status(), MediaWriterStatus::Cancelled);
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(FfmpegWriterLifecycleTest, ReleasingAnUnfinishedWriterCancelsIt) {
    const fs::path path = directory_ / "dropped.wav";
    auto [writer, input] = writerWithAudio(path);
    writer.reset();
    // The input outlives its writer but takes nothing more.
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    EXPECT_FALSE(input->append(signal_.floatBuffers(480).front()));
    EXPECT_TRUE(fs::exists(path));
}

TEST_F(FfmpegWriterLifecycleTest, ReadinessTurnsFalseWhileTheQueueIsFullAndBackWhenItDrains) {
    // A named pipe that nobody reads stalls the encoding thread, so the queue fills up.
    std::signal(SIGPIPE, SIG_IGN);
    const fs::path path = directory_ / "stall.wav";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int readFd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readFd, 0);

    auto writer = *factory_.create(path, MediaFileType::Wave);
    auto input = writer->makeAudioInput(AudioOutputSettings::wav16Stereo48k());
    writer->addInput(input);
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(MediaTime::make(0, 48000));
    EXPECT_TRUE(input->isReadyForMoreMediaData());

    // Far more than the pipe and the queue hold: 20 seconds in 10 ms buffers.
    const auto buffers = TestSignal(20 * 48000).floatBuffers(480);
    std::int64_t appendedFrames = 0;
    bool sawNotReady = false;
    for (const auto& buffer : buffers) {
        if (!input->isReadyForMoreMediaData()) {
            sawNotReady = true;
            break;
        }
        ASSERT_TRUE(input->append(buffer));
        appendedFrames += buffer->numSamples();
    }
    EXPECT_TRUE(sawNotReady);
    // While stalled, extra appends are still taken, up to a hard limit well above readiness.
    EXPECT_TRUE(input->append(buffers.back()));
    appendedFrames += buffers.back()->numSamples();

    std::atomic<std::int64_t> bytesRead = 0;
    std::thread reader([readFd, &bytesRead] {
        ::fcntl(readFd, F_SETFL, 0);
        std::vector<char> chunk(1 << 16);
        for (;;) {
            const auto count = ::read(readFd, chunk.data(), chunk.size());
            if (count <= 0) {
                break;
            }
            bytesRead += count;
        }
    });
    EXPECT_TRUE(test::waitUntil([&] { return input->isReadyForMoreMediaData(); }));

    input->markAsFinished();
    std::atomic<bool> done = false;
    writer->finishWriting([&done] { done = true; });
    EXPECT_TRUE(test::waitUntil([&] { return done.load(); }));
    EXPECT_EQ(writer->status(), MediaWriterStatus::Completed);
    reader.join(); // ends at end of file, once the writer has closed its end
    ::close(readFd);
    EXPECT_GE(bytesRead.load(), appendedFrames * 4);
    EXPECT_LT(bytesRead.load(), appendedFrames * 4 + 1024);
}

} // namespace
} // namespace veltrane
