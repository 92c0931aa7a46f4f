// Records system audio mixed with a microphone through the real command line. The private
// sound server (scripts/with-pulse.sh --mic-tone 1000 --mic-rate 44100 --mic-format s16le)
// offers a clock-paced virtual microphone "virt_mic" that plays a 1000 Hz tone in 16-bit mono
// at 44100 Hz, so the recorder has to resample it.
#include "support/AudioFileProbe.h"
#include "support/CliProcess.h"
#include "support/TonePlayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace veltrane::test {
namespace {

// Both test tones are sines 10 dB below full scale: a power of about 0.05 each. Powers are
// measured in 100 ms windows: the bounded microphone queue may drop a few samples while the
// capture starts, which shifts the tone's phase once.
constexpr double kTonePower = 0.05;
// The recording may start before the microphone delivers: at most this much of it lacks the tone.
constexpr std::size_t kStartSamples = 48000 / 2;

class MicrophoneRecord : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    // `record` with the given options (separated by spaces) into the test's folder.
    std::vector<DecodedAudio> record(const QString& options, int seconds, int chunkSeconds = 10) {
        const QStringList arguments =
            QStringLiteral("record --dir %1 --device-id mix1 --format wav --chunk-seconds %2 --seconds %3 %4")
                .arg(folder.path())
                .arg(chunkSeconds)
                .arg(seconds)
                .arg(options)
                .split(u' ', Qt::SkipEmptyParts);
        const CliRun run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        log = run.out;
        std::vector<DecodedAudio> chunks;
        for (const auto& file : filesIn(folder)) {
            auto audio = decodeAudioFile(file);
            EXPECT_TRUE(audio) << file;
            if (audio) {
                chunks.push_back(std::move(*audio));
            }
        }
        return chunks;
    }

    QTemporaryDir folder;
    QString log;
};

TEST_F(MicrophoneRecord, MixedChunksHoldBothTonesAtTheirLevels) {
    const CliRun sources = runCli({QStringLiteral("sources")});
    ASSERT_EQ(sources.exitCode, 0);
    EXPECT_TRUE(sources.out.contains(QStringLiteral("mic\tvirt_mic\tVirtualMic\n")))
        << sources.out.toStdString();

    Tone tone(440, 40, QStringLiteral("meeting"));
    sleepSeconds(1.0);
    const auto chunks = record(QStringLiteral("--mic virt_mic"), 15);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_TRUE(log.contains(QStringLiteral("🎤 Mic input: ")));
    EXPECT_TRUE(log.contains(QStringLiteral("✅ Microphone configured: VirtualMic")));
    for (const DecodedAudio& chunk : chunks) {
        const double system = windowedTonePower(chunk.mono, 48000, 440.0);
        const double microphone = windowedTonePower(chunk.mono, 48000, 1000.0);
        EXPECT_NEAR(system, kTonePower, kTonePower * 0.3);
        EXPECT_NEAR(microphone, kTonePower, kTonePower * 0.3);
    }
}

TEST_F(MicrophoneRecord, MicrophoneGainZeroLeavesOnlyTheSystemTone) {
    Tone tone(440, 40, QStringLiteral("meeting"));
    sleepSeconds(1.0);
    const auto chunks = record(QStringLiteral("--mic virt_mic --mic-gain 0"), 6);
    ASSERT_EQ(chunks.size(), 1u);
    const double system = windowedTonePower(chunks[0].mono, 48000, 440.0);
    EXPECT_NEAR(system, kTonePower, kTonePower * 0.3);
    EXPECT_LT(windowedTonePower(chunks[0].mono, 48000, 1000.0), system / 1000);
}

// The microphone tone holds from the moment it enters the recording to its end, while nothing
// plays and while the output plays a tone: every 20 ms window fits the sine. The system gain of 0
// keeps the output tone (and any break of its own) out of the file, while the system audio still
// arrives and paces the mix as real audio. Only the very start, before the microphone's first
// samples are mixed in, may lack the tone, and a break that the microphone's own sound had too: a
// loaded sound server sometimes misses the virtual microphone's feed, which another recorder
// (`heard`) then hears as well.
TEST_F(MicrophoneRecord, MicrophoneToneHasNoBreakFromItsStart) {
    for (const bool outputTone : {false, true}) {
        SCOPED_TRACE(outputTone ? "output tone" : "nothing plays");
        std::optional<Tone> tone;
        if (outputTone) {
            tone.emplace(440, 40, QStringLiteral("meeting"));
            sleepSeconds(1.0);
        }
        QTemporaryDir beside;
        const QString heardPath = beside.filePath(QStringLiteral("heard.wav"));
        QProcess heard;
        heard.start(
            QStringLiteral("parec"),
            QStringLiteral("-d virt_mic --file-format=wav --rate=48000 %1").arg(heardPath).split(u' '));
        const auto chunks = record(QStringLiteral("--mic virt_mic --system-gain 0"), 20, 30);
        heard.terminate();
        ASSERT_TRUE(heard.waitForFinished());
        const auto feed = decodeAudioFile(heardPath.toStdString());
        ASSERT_TRUE(feed && chunks.size() == 1u);
        const std::vector<float>& mono = chunks[0].mono;
        EXPECT_NEAR(windowedTonePower(mono, 48000, 1000.0), kTonePower, kTonePower * 0.3);
        std::vector<SampleRange> own = toneBreaks(feed->mono, 48000, 1000.0, 960);
        std::vector<SampleRange> breaks = toneBreaks(mono, 48000, 1000.0, 960);
        std::erase_if(breaks, [&](const SampleRange& range) { // the start, or one of its own (each once)
            const auto same = std::ranges::find_if(own, [&](const SampleRange& o) {
                return std::abs(long(o.endSample - o.beginSample) -
                                long(range.endSample - range.beginSample)) <= 480;
            });
            if (range.beginSample <= 480 && range.endSample <= kStartSamples) {
                return true;
            }
            const bool ownBreak = same != own.end();
            if (ownBreak) {
                own.erase(same);
            }
            return ownBreak;
        });
        for (const SampleRange& range : breaks) {
            ADD_FAILURE() << "break from sample " << range.beginSample << " to " << range.endSample;
        }
        std::filesystem::remove(filesIn(folder).at(0));
    }
}

// The microphone is unplugged at 4 s and plugged back at 7 s: its tone is in the recording before
// and after, and the log says it came back.
TEST_F(MicrophoneRecord, MicrophoneThatComesBackRejoinsTheMix) {
    QProcess cli;
    cli.start(cliPath(),
              QStringLiteral("record --dir %1 --device-id mic9 --format wav --seconds 14 --mic virt_mic "
                             "--system-gain 0")
                  .arg(folder.path())
                  .split(u' '));
    ASSERT_TRUE(cli.waitForStarted());
    const auto shell = [](const QString& command) {
        EXPECT_EQ(QProcess::execute(QStringLiteral("bash"), {QStringLiteral("-c"), command}), 0)
            << command.toStdString();
    };
    sleepSeconds(4.0);
    // The module's arguments, to load it again as it was.
    shell(QStringLiteral(
              "pactl list short modules | grep source_name=virt_mic | cut -f3 >%1/.mic && "
              "pactl list short modules | grep source_name=virt_mic | cut -f1 | xargs pactl unload-module")
              .arg(folder.path()));
    sleepSeconds(3.0);
    shell(QStringLiteral("pactl load-module module-remap-source $(cat %1/.mic) >/dev/null && rm %1/.mic")
              .arg(folder.path()));
    ASSERT_TRUE(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    ASSERT_EQ(cli.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("🎤 Microphone VirtualMic is back: it rejoins the mix")))
        << out.toStdString();
    const auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    const auto audio = decodeAudioFile(files[0]);
    ASSERT_TRUE(audio);
    const auto span = static_cast<std::ptrdiff_t>(3 * 48000);
    const std::vector<float> before(audio->mono.begin() + span / 3, audio->mono.begin() + span);
    const std::vector<float> after(audio->mono.end() - span, audio->mono.end());
    EXPECT_NEAR(windowedTonePower(before, 48000, 1000.0), kTonePower, kTonePower * 0.3);
    EXPECT_NEAR(windowedTonePower(after, 48000, 1000.0), kTonePower, kTonePower * 0.3);
}

} // namespace
} // namespace veltrane::test
