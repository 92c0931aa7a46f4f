#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

#include "support/AudioFileProbe.h"
#include "support/EventLoopWait.h"

extern "C" {
#include <libavutil/error.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <numbers>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::decodeAudioFile;
using test::waitUntil;

// A stereo signal: 440 Hz on the left, 1000 Hz on the right, with a few samples beyond full scale
// so that clipping is exercised.
std::vector<float> testSignal(std::int64_t frames) {
    std::vector<float> samples(static_cast<std::size_t>(frames * 2));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i / 2) / 48000;
        samples[i] = static_cast<float>(i % 2 == 0 ? 0.6 * std::sin(2 * std::numbers::pi * 440 * t)
                                                   : 0.3 * std::sin(2 * std::numbers::pi * 1000 * t));
    }
    for (std::size_t i = 1000; i < std::min<std::size_t>(samples.size(), 1010); ++i) {
        samples[i] = i % 2 == 0 ? 1.5f : -1.5f;
    }
    return samples;
}

// Each sample as 16-bit PCM: scaled by 32768, rounded to nearest and clipped.
std::vector<std::int16_t> quantised(const std::vector<float>& samples) {
    std::vector<std::int16_t> pcm;
    for (const float sample : samples) {
        pcm.push_back(
            static_cast<std::int16_t>(std::clamp<long>(std::lrintf(sample * 32768.0f), -32768, 32767)));
    }
    return pcm;
}

// The signal cut into interleaved buffers of `framesPerBuffer` frames, the first presented at
// `firstSeconds`.
std::vector<SampleBufferPtr> buffers(const std::vector<float>& samples, std::int64_t framesPerBuffer,
                                     double firstSeconds = 0) {
    std::vector<SampleBufferPtr> result;
    const auto frameCount = static_cast<std::int64_t>(samples.size() / 2);
    for (std::int64_t start = 0; start < frameCount; start += framesPerBuffer) {
        const std::int64_t frames = std::min(framesPerBuffer, frameCount - start);
        result.push_back(SampleBuffer::fromInterleavedFloats(
            samples.data() + start * 2, static_cast<std::size_t>(frames * 2), 2, 48000,
            MediaTime::make(std::llround(firstSeconds * 48000) + start, 48000)));
    }
    return result;
}

class FfmpegWriterTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(directory_); }
    void TearDown() override { fs::remove_all(directory_); }

    struct Started {
        std::shared_ptr<MediaFileWriter> writer;
        std::shared_ptr<MediaWriterInput> input;
    };
    // A started writer and its input.
    Started start(const fs::path& path, MediaFileType type = MediaFileType::wave,
                  double sourceStartSeconds = 0) {
        auto writer = *factory_.create(path, type);
        auto input = writer->startWriting(type == MediaFileType::wave ? AudioOutputSettings::wav16Stereo48k()
                                                                      : AudioOutputSettings::aacStereo48k(),
                                          MediaTime::make(std::llround(sourceStartSeconds * 48000), 48000));
        EXPECT_TRUE(input.has_value()) << input.error().fullDescription();
        return {writer, input.value_or(nullptr)};
    }
    static void appendAll(MediaWriterInput& input, const std::vector<SampleBufferPtr>& all) {
        for (const auto& buffer : all) {
            ASSERT_TRUE(waitUntil([&] { return input.isReadyForMoreMediaData(); }));
            ASSERT_TRUE(input.append(buffer));
        }
    }
    // Finishes and waits for the completion; returns the status it ended in.
    static MediaWriterStatus finish(MediaFileWriter& writer, MediaWriterInput& input) {
        input.markAsFinished();
        std::atomic<bool> done = false;
        writer.finishWriting([&done] { done = true; });
        EXPECT_TRUE(waitUntil([&] { return done.load(); }));
        return writer.status();
    }

    FfmpegMediaFileWriterFactory factory_;
    fs::path directory_ =
        fs::temp_directory_path() / ("veltrane-ffmpeg-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(FfmpegWriterTest, FilesStartAtZeroLastAsLongAsTheAudioAndWavHoldsExactlyTheQuantisedSamples) {
    struct Case {
        MediaFileType type;
        std::int64_t framesPerBuffer; // 70000: more than the encoder converts in one go
    };
    const std::int64_t frames = 2 * 48000 + 317; // not a whole number of buffers
    const std::vector<float> signal = testSignal(frames);
    const Case cases[] = {{MediaFileType::wave, 70000}, {MediaFileType::appleM4A, 480}};
    for (const Case& c : cases) {
        const bool wav = c.type == MediaFileType::wave;
        const fs::path path = directory_ / (std::to_string(&c - cases) + (wav ? ".wav" : ".m4a"));
        SCOPED_TRACE(path.filename().string());
        auto [writer, input] = start(path, c.type, 5.0); // the file starts at zero all the same
        appendAll(*input, buffers(signal, c.framesPerBuffer, 5.0));
        ASSERT_EQ(finish(*writer, *input), MediaWriterStatus::completed);
        const auto decoded = decodeAudioFile(path); // codecs and rates are shown end to end (CliRecord)
        ASSERT_TRUE(decoded);
        EXPECT_NEAR(decoded->startTimeSeconds, 0.0, 1e-9);
        EXPECT_NEAR(decoded->durationSeconds, frames / 48000.0, 1e-9);
        if (wav) {
            EXPECT_EQ(decoded->int16Samples, quantised(signal));
        } else {
            EXPECT_NEAR(static_cast<double>(decoded->mono.size()), frames, 1024.0);
        }
    }
}

TEST_F(FfmpegWriterTest, RefusesBuffersItCannotPlaceInTheFile) {
    const fs::path path = directory_ / "refuse.wav";
    auto [writer, input] = start(path);
    ASSERT_TRUE(input);
    const auto good = buffers(testSignal(480), 480).front();
    EXPECT_TRUE(input->isReadyForMoreMediaData());

    std::vector<float> samples(960, 0.25f);
    const auto at = MediaTime::make(0, 48000);
    auto planar = StreamDescription::interleavedFloat(48000, 2);
    planar.formatFlags |= kAudioFormatFlagIsNonInterleaved;
    for (const SampleBufferPtr& bad : {
             SampleBuffer::fromInterleavedFloats(samples.data(), 960, 2, 44100, at),
             SampleBuffer::fromInterleavedFloats(samples.data(), 960, 1, 48000, at),
             std::make_shared<const SampleBuffer>(planar, good->data(), 480, at),
             // A frame count larger than the bytes it comes with must not be read past the end.
             std::make_shared<const SampleBuffer>(good->format(), good->data(), 481, at),
             std::make_shared<const SampleBuffer>(std::nullopt, good->data(), 480, at),
             SampleBufferPtr(),
         }) {
        EXPECT_FALSE(input->append(bad));
    }
    EXPECT_TRUE(input->append(good));
    input->markAsFinished();
    EXPECT_FALSE(input->append(good)) << "after markAsFinished";
    EXPECT_EQ(finish(*writer, *input), MediaWriterStatus::completed);
    EXPECT_FALSE(input->append(good)) << "after finishing";
    EXPECT_EQ(decodeAudioFile(path)->mono.size(), 480u);
}

TEST_F(FfmpegWriterTest, StartsOnceAndOnlyWithSettingsItCanHonour) {
    auto wav = *factory_.create(directory_ / "a.wav", MediaFileType::wave);
    auto m4a = *factory_.create(directory_ / "a.m4a", MediaFileType::appleM4A);
    const AudioOutputSettings wav16 = AudioOutputSettings::wav16Stereo48k();
    const AudioOutputSettings aac = AudioOutputSettings::aacStereo48k();
    const auto with = [](AudioOutputSettings settings,
                         const std::function<void(AudioOutputSettings&)>& change) {
        change(settings);
        return settings;
    };
    const std::pair<std::shared_ptr<MediaFileWriter>, AudioOutputSettings> refused[] = {
        {wav, aac},
        {m4a, wav16},
        {wav, with(wav16, [](auto& s) { s.linearPCMBitDepth = 24; })},
        {wav, with(wav16, [](auto& s) { s.linearPCMIsFloat = true; })},
        {wav, with(wav16, [](auto& s) { s.numberOfChannels = 6; })},
        {m4a, with(aac, [](auto& s) { s.sampleRate = 12345; })},
        {m4a, with(aac, [](auto& s) { s.encoderBitRate.reset(); })},
    };
    const MediaTime at = MediaTime::make(0, 48000);
    for (const auto& [writer, settings] : refused) {
        const auto started = writer->startWriting(settings, at);
        ASSERT_FALSE(started.has_value());
        EXPECT_EQ(started.error().kind, PlatformError::Kind::unsupportedFormat);
        EXPECT_EQ(writer->status(), MediaWriterStatus::unknown);
    }
    // A refused start leaves the writer to start with settings it can honour, once.
    ASSERT_TRUE(wav->startWriting(wav16, at).has_value());
    EXPECT_FALSE(wav->startWriting(wav16, at).has_value());
    EXPECT_EQ(wav->status(), MediaWriterStatus::writing);
    wav->cancelWriting();
}

TEST_F(FfmpegWriterTest, NothingIsOverwrittenAndNamesAreNoProtocols) {
    // A full disk and a removed folder are shown end to end (CliDiskFault). An existing file is never
    // overwritten, and a name is never read as an FFmpeg protocol.
    const fs::path taken = directory_ / "taken.wav";
    std::ofstream(taken) << "keep me";
    const auto created = factory_.create(taken, MediaFileType::wave);
    ASSERT_FALSE(created.has_value());
    EXPECT_EQ(created.error().code, AVERROR(EEXIST));
    EXPECT_EQ(fs::file_size(taken), 7u);

    const fs::path previous = fs::current_path();
    fs::current_path(directory_);
    auto pipe = start("pipe:1");
    appendAll(*pipe.input, buffers(testSignal(480), 480));
    EXPECT_EQ(finish(*pipe.writer, *pipe.input), MediaWriterStatus::completed);
    fs::current_path(previous);
    EXPECT_GT(fs::file_size(directory_ / "pipe:1"), 480u * 4);
}

// What a crash leaves on the disk is the files as they stand after the last flush: copies of them
// taken while the writer still runs, cut at awkward places, are repaired as recovery would repair
// them. Whole flushed files are recovered end to end (CliCrashRecovery).
TEST_F(FfmpegWriterTest, FilesOfADeadWriterAreRepairedFromWhatReachedTheDisk) {
    struct Case {
        const char* name;
        MediaFileType type;
        std::int64_t keepBytes; // > 0: only the first ones, < 0: all but the last ones
        double minimumSeconds;  // of audio repaired; < 0: none
    };
    const Case cases[] = {
        {"wav cut inside a frame", MediaFileType::wave, -1001, 2.98},
        {"wav cut inside its header", MediaFileType::wave, 30, -1},
        {"m4a cut inside its last fragment", MediaFileType::appleM4A, -1000, 1.5},
        {"m4a cut inside its header", MediaFileType::appleM4A, 100, -1},
    };
    std::map<MediaFileType, fs::path> flushed;
    for (const MediaFileType type : {MediaFileType::wave, MediaFileType::appleM4A}) {
        const fs::path path = directory_ / (type == MediaFileType::wave ? "live.wav" : "live.m4a");
        auto [writer, input] = start(path, type);
        appendAll(*input, buffers(testSignal(3 * 48000), 480));
        ASSERT_TRUE(waitUntil([&] { return fs::exists(path) && fs::file_size(path) > 3 * 48000 / 10; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // past the once-a-second flush
        flushed[type] = directory_ / ("flushed-" + path.filename().string());
        fs::copy_file(path, flushed[type]);
        if (type == MediaFileType::appleM4A) {
            fs::copy_file(recoveryCopyPath(path), recoveryCopyPath(flushed[type]));
        }
        writer->cancelWriting();
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool m4a = c.type == MediaFileType::appleM4A;
        const fs::path path = directory_ / (std::string(c.name) + (m4a ? ".m4a" : ".wav"));
        fs::copy_file(flushed[c.type], path);
        if (m4a) {
            fs::copy_file(recoveryCopyPath(flushed[c.type]), recoveryCopyPath(path));
        }
        const fs::path cut = m4a ? recoveryCopyPath(path) : path;
        const auto size = static_cast<std::int64_t>(fs::file_size(cut));
        fs::resize_file(cut, c.keepBytes > 0 ? c.keepBytes : size + c.keepBytes);
        const auto repaired = factory_.repairInterrupted(path, c.type);
        ASSERT_TRUE(repaired.has_value()) << repaired.error().localizedDescription;
        EXPECT_FALSE(fs::exists(recoveryCopyPath(path)));
        EXPECT_EQ(*repaired, c.minimumSeconds < 0 ? RepairOutcome::holdsNoAudio : RepairOutcome::repaired);
        EXPECT_EQ(fs::exists(path), c.minimumSeconds >= 0);
        if (c.minimumSeconds >= 0) {
            const auto decoded = decodeAudioFile(path);
            ASSERT_TRUE(decoded);
            EXPECT_GE(decoded->mono.size(), c.minimumSeconds * 48000);
            EXPECT_LE(decoded->mono.size(), 3 * 48000 + 2048);
            EXPECT_NEAR(decoded->durationSeconds, static_cast<double>(decoded->mono.size()) / 48000.0, 0.05);
        }
    }
    // Something that is not what it should be is left alone.
    const fs::path foreign = directory_ / "foreign.wav";
    std::ofstream(foreign) << std::string(5000, 'x');
    EXPECT_FALSE(factory_.repairInterrupted(foreign, MediaFileType::wave).has_value());
    EXPECT_EQ(fs::file_size(foreign), 5000u);
}

TEST_F(FfmpegWriterTest, CompletionRunsOnceOnAnotherThreadAndMayReleaseTheLastReference) {
    auto [writer, input] = start(directory_ / "a.m4a", MediaFileType::appleM4A);
    appendAll(*input, buffers(testSignal(48000), 480));
    input->markAsFinished();
    input.reset();
    std::atomic<int> calls = 0;
    std::atomic<bool> onOtherThread = false;
    MediaFileWriter* raw = writer.get();
    // The completion owns the writer and drops it on the writer's own thread.
    raw->finishWriting(
        [owned = std::move(writer), &calls, &onOtherThread, caller = std::this_thread::get_id()]() mutable {
            onOtherThread =
                std::this_thread::get_id() != caller && owned->status() == MediaWriterStatus::completed;
            owned.reset();
            ++calls;
        });
    ASSERT_TRUE(waitUntil([&] { return calls.load() > 0; }));
    test::spinFor(std::chrono::milliseconds(50)); // a second call queued behind the first would show up
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(onOtherThread.load());
}

// Released unfinished or cancelled: the input takes nothing more and the partial file stays. (A
// released writer's finish completing at shutdown is shown by the window's end-to-end run.)
TEST_F(FfmpegWriterTest, AReleasedOrCancelledWriterTakesNothingMoreAndKeepsItsFile) {
    const auto one = buffers(testSignal(480), 480).front();
    auto [dropped, droppedInput] = start(directory_ / "dropped.wav");
    dropped.reset();
    EXPECT_FALSE(droppedInput->isReadyForMoreMediaData());
    EXPECT_FALSE(droppedInput->append(one));
    EXPECT_TRUE(fs::exists(directory_ / "dropped.wav"));
    auto [cancelled, cancelledInput] = start(directory_ / "cancelled.wav");
    cancelled->cancelWriting();
    EXPECT_FALSE(cancelledInput->append(one));
    // A late finish neither completes the file nor hangs.
    EXPECT_EQ(finish(*cancelled, *cancelledInput), MediaWriterStatus::cancelled);
    EXPECT_TRUE(fs::exists(directory_ / "cancelled.wav"));
}

TEST_F(FfmpegWriterTest, ReadinessTurnsFalseWhileTheQueueIsFullAndBackWhenItDrains) {
    // A named pipe that nobody reads stalls the encoding thread, so the queue fills up.
    std::signal(SIGPIPE, SIG_IGN);
    const fs::path path = directory_ / "stall.wav";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    const int readFd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readFd, 0);
    auto [writer, input] = start(path);
    // Far more than the pipe and the queue hold: 20 seconds in 10 ms buffers.
    const auto all = buffers(testSignal(20 * 48000), 480);
    std::int64_t appendedFrames = 0;
    for (const auto& buffer : all) {
        if (!input->isReadyForMoreMediaData()) {
            break;
        }
        ASSERT_TRUE(input->append(buffer));
        appendedFrames += buffer->numSamples();
    }
    EXPECT_LT(appendedFrames, 20 * 48000) << "never turned not ready";
    // While stalled, extra appends are still taken, up to a hard limit well above readiness.
    EXPECT_TRUE(input->append(all.back()));
    appendedFrames += all.back()->numSamples();

    std::atomic<std::int64_t> bytesRead = 0;
    std::thread reader([readFd, &bytesRead] {
        ::fcntl(readFd, F_SETFL, 0);
        std::vector<char> chunk(1 << 16);
        for (auto count = ::read(readFd, chunk.data(), chunk.size()); count > 0;
             count = ::read(readFd, chunk.data(), chunk.size())) {
            bytesRead += count;
        }
    });
    EXPECT_TRUE(waitUntil([&] { return input->isReadyForMoreMediaData(); }));
    EXPECT_EQ(finish(*writer, *input), MediaWriterStatus::completed);
    reader.join(); // ends at end of file, once the writer has closed its end
    ::close(readFd);
    EXPECT_GE(bytesRead.load(), appendedFrames * 4);
    EXPECT_LT(bytesRead.load(), appendedFrames * 4 + 1024);
}

} // namespace
} // namespace veltrane
