// What the FFmpeg writer puts into WAV and M4A files, read back with FFmpeg, and which
// settings and buffers it refuses.
#include "platform/encoding/ffmpeg/FfmpegMediaFileWriter.h"

#include "platform/encoding/DecodedAudioFile.h"
#include "platform/encoding/TestSignal.h"
#include "support/EventLoopWait.h"

extern "C" {
#include <libavutil/error.h>
}

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using test::DecodedAudioFile;
using test::TestSignal;

class FfmpegWriterOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            fs::temp_directory_path() / ("veltrane-ffmpeg-out-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    // A started writer with its input added, or a test failure.
    std::pair<std::shared_ptr<MediaFileWriter>, std::shared_ptr<MediaWriterInput>>
    startedWriter(const fs::path& path, MediaFileType type, double sourceStartSeconds = 0.0) {
        auto created = factory_.create(path, type);
        EXPECT_TRUE(created.has_value());
        auto writer = *created;
        auto input =
            writer->makeAudioInput(type == MediaFileType::Wave ? AudioOutputSettings::wav16Stereo48k()
                                                               : AudioOutputSettings::aacStereo48k());
        input->setExpectsMediaDataInRealTime(true);
        EXPECT_TRUE(writer->canAddInput(*input));
        writer->addInput(input);
        EXPECT_TRUE(writer->startWriting());
        EXPECT_EQ(writer->status(), MediaWriterStatus::Writing);
        writer->startSession(MediaTime::make(std::llround(sourceStartSeconds * 48000), 48000));
        return {writer, input};
    }

    static void appendAll(MediaWriterInput& input, const std::vector<SampleBufferPtr>& buffers) {
        for (const auto& buffer : buffers) {
            ASSERT_TRUE(test::waitUntil([&] { return input.isReadyForMoreMediaData(); }));
            ASSERT_TRUE(input.append(buffer));
        }
    }

    static void finishAndWait(MediaFileWriter& writer, MediaWriterInput& input) {
        input.markAsFinished();
        std::atomic<bool> done = false;
        writer.finishWriting([&done] { done = true; });
        ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
        const auto error = writer.error();
        ASSERT_EQ(writer.status(), MediaWriterStatus::Completed) << describeError(error ? &*error : nullptr);
    }

    FfmpegMediaFileWriterFactory factory_;
    fs::path directory_;
};

TEST_F(FfmpegWriterOutputTest, WavHoldsExactlyTheQuantisedSamples) {
    const TestSignal signal(2 * 48000 + 317); // not a whole number of buffers
    const fs::path path = directory_ / "float.wav";
    auto [writer, input] = startedWriter(path, MediaFileType::Wave);
    appendAll(*input, signal.floatBuffers(480));
    finishAndWait(*writer, *input);

    auto decoded = DecodedAudioFile::read(path);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->codecName, "pcm_s16le");
    EXPECT_EQ(decoded->sampleRateHz, 48000);
    EXPECT_EQ(decoded->channelCount, 2);
    EXPECT_EQ(decoded->decodedFrames, signal.frameCount());
    EXPECT_NEAR(decoded->streamDurationSeconds, signal.frameCount() / 48000.0, 1e-9);
    EXPECT_EQ(decoded->int16Samples, signal.quantised());
}

TEST_F(FfmpegWriterOutputTest, WavFromInt16BuffersKeepsTheSamplesUnchanged) {
    const TestSignal signal(80000);
    const fs::path path = directory_ / "int16.wav";
    auto [writer, input] = startedWriter(path, MediaFileType::Wave);
    // The first buffer is larger than what the encoder converts in one go.
    appendAll(*input, signal.int16Buffers(70000));
    finishAndWait(*writer, *input);

    auto decoded = DecodedAudioFile::read(path);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->decodedFrames, 80000);
    EXPECT_EQ(decoded->int16Samples, signal.quantised());
}

TEST_F(FfmpegWriterOutputTest, M4aIsAacAsLongAsTheAppendedAudio) {
    const TestSignal signal(3 * 48000 + 100);
    const fs::path path = directory_ / "sine.m4a";
    auto [writer, input] = startedWriter(path, MediaFileType::AppleM4A);
    appendAll(*input, signal.floatBuffers(480));
    finishAndWait(*writer, *input);

    auto decoded = DecodedAudioFile::read(path);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->codecName, "aac");
    EXPECT_EQ(decoded->sampleRateHz, 48000);
    EXPECT_EQ(decoded->channelCount, 2);
    const double appendedSeconds = signal.frameCount() / 48000.0;
    EXPECT_NEAR(decoded->streamDurationSeconds, appendedSeconds, 1e-9);
    EXPECT_NEAR(static_cast<double>(decoded->decodedFrames), static_cast<double>(signal.frameCount()),
                1024.0);
}

TEST_F(FfmpegWriterOutputTest, FirstBufferStartsTheFileAtZeroWhateverItsPresentationTime) {
    const TestSignal signal(2 * 48000);
    for (const auto type : {MediaFileType::Wave, MediaFileType::AppleM4A}) {
        const fs::path path = directory_ / (type == MediaFileType::Wave ? "late.wav" : "late.m4a");
        auto [writer, input] = startedWriter(path, type, 5.0);
        appendAll(*input, signal.floatBuffers(480, 5.0));
        finishAndWait(*writer, *input);

        auto decoded = DecodedAudioFile::read(path);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_NEAR(decoded->startTimeSeconds, 0.0, 1e-9);
        EXPECT_NEAR(decoded->streamDurationSeconds, 2.0, 1e-9);
    }
}

TEST_F(FfmpegWriterOutputTest, RefusesBuffersItCannotPlaceInTheFile) {
    const fs::path path = directory_ / "refuse.wav";
    auto created = factory_.create(path, MediaFileType::Wave);
    ASSERT_TRUE(created.has_value());
    auto writer = *created;
    auto input = writer->makeAudioInput(AudioOutputSettings::wav16Stereo48k());
    writer->addInput(input);
    const auto good = TestSignal(480).floatBuffers(480).front();

    EXPECT_FALSE(input->append(good)) << "before startWriting";
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    ASSERT_TRUE(writer->startWriting());
    EXPECT_FALSE(input->append(good)) << "before startSession";
    writer->startSession(MediaTime::make(0, 48000));
    EXPECT_TRUE(input->isReadyForMoreMediaData());

    std::vector<float> samples(960, 0.25f);
    const auto at = MediaTime::make(0, 48000);
    EXPECT_FALSE(input->append(SampleBuffer::fromInterleavedFloats(samples.data(), 960, 2, 44100, at)));
    EXPECT_FALSE(input->append(SampleBuffer::fromInterleavedFloats(samples.data(), 960, 1, 48000, at)));
    auto planar = StreamDescription::interleavedFloat(48000, 2);
    planar.formatFlags |= kAudioFormatFlagIsNonInterleaved;
    EXPECT_FALSE(input->append(std::make_shared<const SampleBuffer>(planar, good->data(), 480, at)));
    // A frame count larger than the bytes it comes with must not be read past the end.
    EXPECT_FALSE(input->append(std::make_shared<const SampleBuffer>(good->format(), good->data(), 481, at)));
    EXPECT_FALSE(input->append(std::make_shared<const SampleBuffer>(std::nullopt, good->data(), 480, at)));
    EXPECT_FALSE(input->append(nullptr));

    EXPECT_TRUE(input->append(good));
    input->markAsFinished();
    EXPECT_FALSE(input->append(good)) << "after markAsFinished";
    EXPECT_FALSE(input->isReadyForMoreMediaData());
    std::atomic<bool> done = false;
    writer->finishWriting([&done] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
    EXPECT_EQ(writer->status(), MediaWriterStatus::Completed);
    EXPECT_FALSE(input->append(good)) << "after finishing";
    auto decoded = DecodedAudioFile::read(path);
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(decoded->decodedFrames, 480);
}

TEST_F(FfmpegWriterOutputTest, OnlyAddsOneInputWithSettingsItCanHonour) {
    auto wav = *factory_.create(directory_ / "a.wav", MediaFileType::Wave);
    auto m4a = *factory_.create(directory_ / "a.m4a", MediaFileType::AppleM4A);

    EXPECT_FALSE(wav->canAddInput(*wav->makeAudioInput(AudioOutputSettings::aacStereo48k())));
    EXPECT_FALSE(m4a->canAddInput(*m4a->makeAudioInput(AudioOutputSettings::wav16Stereo48k())));
    auto settings = AudioOutputSettings::wav16Stereo48k();
    settings.linearPCMBitDepth = 24;
    EXPECT_FALSE(wav->canAddInput(*wav->makeAudioInput(settings)));
    settings = AudioOutputSettings::wav16Stereo48k();
    settings.linearPCMIsFloat = true;
    EXPECT_FALSE(wav->canAddInput(*wav->makeAudioInput(settings)));
    settings = AudioOutputSettings::wav16Stereo48k();
    settings.numberOfChannels = 6;
    EXPECT_FALSE(wav->canAddInput(*wav->makeAudioInput(settings)));
    settings = AudioOutputSettings::aacStereo48k();
    settings.sampleRate = 12345;
    EXPECT_FALSE(m4a->canAddInput(*m4a->makeAudioInput(settings)));
    settings.sampleRate = 48000;
    settings.encoderBitRate.reset();
    EXPECT_FALSE(m4a->canAddInput(*m4a->makeAudioInput(settings)));

    // An input belongs to the writer that made it, and a writer takes one.
    EXPECT_FALSE(wav->canAddInput(*m4a->makeAudioInput(AudioOutputSettings::wav16Stereo48k())));
    auto input = wav->makeAudioInput(AudioOutputSettings::wav16Stereo48k());
    ASSERT_TRUE(wav->canAddInput(*input));
    wav->addInput(input);
    EXPECT_FALSE(wav->canAddInput(*wav->makeAudioInput(AudioOutputSettings::wav16Stereo48k())));
}

TEST_F(FfmpegWriterOutputTest, StartingWithoutAnInputFails) {
    auto writer = *factory_.create(directory_ / "no-input.wav", MediaFileType::Wave);
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->status(), MediaWriterStatus::Failed);
    ASSERT_TRUE(writer->error().has_value());
    EXPECT_EQ(writer->error()->domain, "FFmpeg");
    EXPECT_FALSE(fs::exists(directory_ / "no-input.wav"));
}

TEST_F(FfmpegWriterOutputTest, StartingInAMissingDirectoryFailsWithTheSystemError) {
    const fs::path path = directory_ / "missing" / "x.wav";
    auto created = factory_.create(path, MediaFileType::Wave);
    ASSERT_TRUE(created.has_value());
    auto writer = *created;
    auto input = writer->makeAudioInput(AudioOutputSettings::wav16Stereo48k());
    writer->addInput(input);
    EXPECT_FALSE(writer->startWriting());
    EXPECT_EQ(writer->status(), MediaWriterStatus::Failed);
    const auto error = writer->error();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain, "FFmpeg");
    EXPECT_EQ(error->code, AVERROR(ENOENT));
    EXPECT_NE(error->localizedDescription.find("could not open output file"), std::string::npos);
    EXPECT_FALSE(input->append(TestSignal(480).floatBuffers(480).front()));

    // A finish requested anyway still reports back, from another thread.
    std::atomic<bool> done = false;
    writer->finishWriting([&done] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
    EXPECT_EQ(writer->status(), MediaWriterStatus::Failed);
}

TEST_F(FfmpegWriterOutputTest, NeverOverwritesAnExistingFile) {
    const fs::path path = directory_ / "taken.wav";
    std::ofstream(path) << "keep me";
    auto created = factory_.create(path, MediaFileType::Wave);
    ASSERT_FALSE(created.has_value());
    EXPECT_EQ(created.error().domain, "FFmpeg");
    EXPECT_EQ(created.error().code, AVERROR(EEXIST));
    EXPECT_EQ(fs::file_size(path), 7u);
}

TEST_F(FfmpegWriterOutputTest, FileNamesAreNotReadAsFfmpegProtocols) {
    const fs::path previous = fs::current_path();
    fs::current_path(directory_);
    auto [writer, input] = startedWriter("pipe:1", MediaFileType::Wave);
    appendAll(*input, TestSignal(480).floatBuffers(480));
    finishAndWait(*writer, *input);
    fs::current_path(previous);
    EXPECT_GT(fs::file_size(directory_ / "pipe:1"), 480u * 4);
}

TEST_F(FfmpegWriterOutputTest, AWriteErrorFailsTheWriterAndIsReportedAtFinish) {
    // /dev/full takes the file open but fails every write with "no space left on device".
    auto [writer, input] = startedWriter("/dev/full", MediaFileType::Wave);
    const auto buffers = TestSignal(48000).floatBuffers(480);
    for (const auto& buffer : buffers) {
        if (!input->append(buffer)) {
            break;
        }
    }
    std::atomic<bool> done = false;
    writer->finishWriting([&done] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done.load(); }));
    EXPECT_EQ(writer->status(), MediaWriterStatus::Failed);
    ASSERT_TRUE(writer->error().has_value());
    EXPECT_EQ(writer->error()->code, AVERROR(ENOSPC));
    EXPECT_FALSE(input->append(buffers.front()));
}

// What a crash leaves on the disk is the files as they stand after the last flush: copies of
// them taken while the writer still runs are repaired as recovery would repair them.
TEST_F(FfmpegWriterOutputTest, FilesOfADeadWriterAreRepairedFromWhatReachedTheDisk) {
    struct Case {
        const char* name;
        MediaFileType type;
        std::int64_t keepBytes; // 0: all, > 0: only the first ones, < 0: all but the last ones
        double minimumSeconds;  // of audio repaired; < 0: none
    };
    const Case cases[] = {
        {"wav as flushed", MediaFileType::Wave, 0, 2.99},
        {"wav cut inside a frame", MediaFileType::Wave, -1001, 2.98},
        {"wav cut inside its header", MediaFileType::Wave, 30, -1},
        {"m4a as flushed", MediaFileType::AppleM4A, 0, 2.8},
        {"m4a cut inside its last fragment", MediaFileType::AppleM4A, -1000, 1.5},
        {"m4a cut inside its header", MediaFileType::AppleM4A, 100, -1},
    };
    const TestSignal signal(3 * 48000);
    std::map<MediaFileType, fs::path> flushed;
    for (const MediaFileType type : {MediaFileType::Wave, MediaFileType::AppleM4A}) {
        const fs::path path = directory_ / (type == MediaFileType::Wave ? "live.wav" : "live.m4a");
        auto [writer, input] = startedWriter(path, type);
        appendAll(*input, signal.floatBuffers(480));
        ASSERT_TRUE(
            test::waitUntil([&] { return fs::exists(path) && fs::file_size(path) > 3 * 48000 / 10; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // past the once-a-second flush
        flushed[type] = directory_ / ("flushed-" + path.filename().string());
        fs::copy_file(path, flushed[type]);
        if (type == MediaFileType::AppleM4A) {
            fs::copy_file(recoveryCopyPath(path), recoveryCopyPath(flushed[type]));
        }
        writer->cancelWriting();
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path =
            directory_ / (std::string(c.name) + (c.type == MediaFileType::Wave ? ".wav" : ".m4a"));
        fs::copy_file(flushed[c.type], path);
        const bool m4a = c.type == MediaFileType::AppleM4A;
        if (m4a) {
            fs::copy_file(recoveryCopyPath(flushed[c.type]), recoveryCopyPath(path));
        }
        const fs::path cut = m4a ? recoveryCopyPath(path) : path;
        if (c.keepBytes != 0) {
            const auto size = static_cast<std::int64_t>(fs::file_size(cut));
            fs::resize_file(cut, c.keepBytes > 0 ? c.keepBytes : size + c.keepBytes);
        }
        const auto repaired = factory_.repairInterrupted(path, c.type);
        ASSERT_TRUE(repaired.has_value()) << repaired.error().localizedDescription;
        EXPECT_FALSE(fs::exists(recoveryCopyPath(path)));
        if (c.minimumSeconds < 0) {
            EXPECT_EQ(*repaired, RepairOutcome::HoldsNoAudio);
            EXPECT_FALSE(fs::exists(path));
            continue;
        }
        EXPECT_EQ(*repaired, RepairOutcome::Repaired);
        const auto decoded = DecodedAudioFile::read(path);
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_GE(decoded->decodedFrames, c.minimumSeconds * 48000);
        EXPECT_LE(decoded->decodedFrames, 3 * 48000 + 2048);
        EXPECT_NEAR(decoded->streamDurationSeconds, decoded->decodedFrames / 48000.0, 0.05);
    }
    // Something that is not what it should be is left alone.
    const fs::path foreign = directory_ / "foreign.wav";
    std::ofstream(foreign) << std::string(5000, 'x');
    EXPECT_FALSE(factory_.repairInterrupted(foreign, MediaFileType::Wave).has_value());
    EXPECT_EQ(fs::file_size(foreign), 5000u);
}

} // namespace
} // namespace veltrane
