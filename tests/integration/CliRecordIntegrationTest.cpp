// Records with the real command line against a private sound server (started around this
// binary by scripts/with-pulse.sh) and checks the chunk files it leaves.
#include "support/AudioFileProbe.h"
#include "support/CliProcess.h"
#include "support/TonePlayer.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>

namespace veltrane::test {
namespace {

class CliRecord : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(cliPath().isEmpty()); }

    // `record` into the test's folder with the given options (separated by spaces).
    [[nodiscard]] QStringList record(const QString& options) const {
        return QStringList{QStringLiteral("record"), QStringLiteral("--dir"), folder.path()} +
               options.split(u' ', Qt::SkipEmptyParts);
    }

    // Records 25 s in 10 s chunks while a 440 Hz tone plays and checks the three chunks.
    void recordsThreeChunksOfTone(const QString& format, const std::string& codec) {
        Tone tone(440, 60, QStringLiteral("toneA"));
        sleepSeconds(1.0);
        const CliRun run = runCli(
            record(QStringLiteral("--device-id studio7 --seconds 25 --chunk-seconds 10 --format ") + format));
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("=== Start Recording ===")));
        EXPECT_TRUE(run.out.contains(QStringLiteral("✅ Recording started (system audio only)")));

        const auto files = filesIn(folder);
        ASSERT_EQ(files.size(), 3u) << run.out.toStdString();
        const QRegularExpression name(
            QStringLiteral("^studio7-\\d{4}-\\d\\d-\\d\\d-\\d{6}-chunk-(001-START|002|003-STOP)\\.%1$")
                .arg(format));
        double total = 0;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::string fileName = files[i].filename().string();
            EXPECT_TRUE(name.match(QString::fromStdString(fileName)).hasMatch()) << fileName;
            const auto audio = decodeAudioFile(files[i]);
            ASSERT_TRUE(audio) << fileName;
            EXPECT_EQ(audio->codecName, codec);
            EXPECT_EQ(audio->sampleRate, 48000);
            EXPECT_EQ(audio->channels, 2);
            total += audio->durationSeconds;
            // Chunks 1 and 2 rotate at the first buffer at or after 10 s; the last one holds what
            // was left when the stop came.
            EXPECT_NEAR(audio->durationSeconds, i < 2 ? 10.0 : 5.0, i < 2 ? 0.03 : 0.5) << fileName;
            const double at440 = windowedTonePower(audio->mono, 48000, 440.0);
            EXPECT_GT(at440, 0.001) << fileName;
            EXPECT_GT(at440, 100 * windowedTonePower(audio->mono, 48000, 1000.0)) << fileName;
        }
        EXPECT_NEAR(total, 25.0, 0.3);
    }

    // A command line for the private sound server (pactl and the like).
    static void shell(const QString& command) {
        ASSERT_EQ(QProcess::execute(QStringLiteral("bash"), {QStringLiteral("-c"), command}), 0)
            << command.toStdString();
    }

    // Kills the sound server outright (its whole process group), as a crash would.
    static void killSoundServer() {
        ::kill(-static_cast<pid_t>(qEnvironmentVariableIntValue("VELTRANE_SOUND_SERVER_PID")), SIGKILL);
    }

    // The id `veltrane-cli sources` lists for the source named `name`.
    static QString sourceID(const QString& name) {
        const QString out = runCli({QStringLiteral("sources")}).out;
        const auto match =
            QRegularExpression(QStringLiteral("^(\\d+)\\t") + QRegularExpression::escape(name) + u'$',
                               QRegularExpression::MultilineOption)
                .match(out);
        EXPECT_TRUE(match.hasMatch()) << out.toStdString();
        return match.captured(1);
    }

    // Waits for a recording to end with `exitCode`; its log (warnings and errors are on
    // standard error, after the rest).
    static QString finished(QProcess& cli, int exitCode) {
        EXPECT_TRUE(cli.waitForFinished(90000));
        const QString log = QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
        EXPECT_EQ(cli.exitCode(), exitCode) << log.toStdString();
        return log;
    }

    // The one chunk in `dir`, decoded.
    static std::optional<DecodedAudio> onlyChunk(const QTemporaryDir& dir) {
        const auto files = filesIn(dir);
        EXPECT_EQ(files.size(), 1u);
        return files.size() == 1 ? decodeAudioFile(files[0]) : std::nullopt;
    }

    // The tone's power in the first and the last `seconds` of a recording.
    static std::pair<double, double> toneAtEnds(const DecodedAudio& audio, double frequencyHz,
                                                double seconds) {
        const auto span = static_cast<std::ptrdiff_t>(seconds * 48000);
        return {windowedTonePower({audio.mono.begin(), audio.mono.begin() + span}, 48000, frequencyHz),
                windowedTonePower({audio.mono.end() - span, audio.mono.end()}, 48000, frequencyHz)};
    }

    // The longest stretch, in seconds, in which 100 ms windows hold no sound.
    static double longestSilenceSeconds(const std::vector<float>& mono) {
        std::size_t run = 0, longest = 0;
        for (std::size_t at = 0; at + 4800 <= mono.size(); at += 4800) {
            run = rms(mono, at, at + 4800) < 1e-3 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return static_cast<double>(longest) * 0.1;
    }

    QTemporaryDir folder;
};

TEST_F(CliRecord, WavChunksFollowTheClockAndHoldTheTone) {
    recordsThreeChunksOfTone(QStringLiteral("wav"), "pcm_s16le");
}

TEST_F(CliRecord, M4aChunksFollowTheClockAndHoldTheTone) {
    recordsThreeChunksOfTone(QStringLiteral("m4a"), "aac");
}

TEST_F(CliRecord, ApplicationSourceCapturesOnlyThatProgram) {
    Tone low(440, 60, QStringLiteral("toneLow"));
    Tone high(1000, 60, QStringLiteral("toneHigh"));
    sleepSeconds(1.5);
    const CliRun sources = runCli({QStringLiteral("sources")});
    ASSERT_EQ(sources.exitCode, 0) << sources.err.toStdString();
    const auto match =
        QRegularExpression(QStringLiteral("^(\\d+)\\tApp: toneHigh$"), QRegularExpression::MultilineOption)
            .match(sources.out);
    ASSERT_TRUE(match.hasMatch()) << sources.out.toStdString();
    EXPECT_TRUE(sources.out.contains(QStringLiteral("\tDesktop Audio (VirtualOutput)\n")));

    // Its own settings, so that no other test's recording changes the remembered folder.
    QTemporaryDir configHome;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome.path());
    const CliRun run = runCli(
        record(QStringLiteral("--device-id room2 --format wav --seconds 6 --source ") + match.captured(1)),
        120000, environment);
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("✅ App filter created for: toneHigh")));
    const auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].filename().string().ends_with("-chunk-001-START-STOP.wav"));
    const auto audio = decodeAudioFile(files[0]);
    ASSERT_TRUE(audio);
    // Window by window: a player that skips on a busy machine shifts its tone's phase, which a
    // measure over the whole file punishes.
    const double wanted = windowedTonePower(audio->mono, 48000, 1000.0);
    EXPECT_GT(wanted, 0.001);
    EXPECT_LT(windowedTonePower(audio->mono, 48000, 440.0), wanted / 1000);
    // The folder is remembered now: its log line goes to standard error, beside the listed data.
    const CliRun again = runCli({QStringLiteral("sources")}, 120000, environment);
    EXPECT_TRUE(again.err.contains(QStringLiteral("📁 destination set"))) << again.err.toStdString();
    EXPECT_FALSE(again.out.contains(QStringLiteral("📁"))) << again.out.toStdString();
}

TEST_F(CliRecord, SilenceBeforeTheToneStillFillsWallClockTime) {
    QProcess cli;
    cli.start(cliPath(),
              record(QStringLiteral("--device-id quiet1 --format wav --seconds 20 --chunk-seconds 10")));
    ASSERT_TRUE(cli.waitForStarted());
    sleepSeconds(11.0);
    {
        Tone tone(440, 30, QStringLiteral("late"));
        ASSERT_TRUE(cli.waitForFinished(60000));
    }
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    // A stop that comes just after the second chunk's end may leave a last chunk of a moment.
    const auto files = filesIn(folder);
    ASSERT_TRUE(files.size() == 2u ||
                (files.size() == 3u && decodeAudioFile(files[2])->durationSeconds < 0.3))
        << files.size() << " chunks";
    const auto first = decodeAudioFile(files[0]);
    const auto second = decodeAudioFile(files[1]);
    ASSERT_TRUE(first && second);
    EXPECT_NEAR(first->durationSeconds, 10.0, 0.03);
    EXPECT_NEAR(first->durationSeconds + second->durationSeconds, 20.0, 0.3);
    EXPECT_LT(rms(first->mono, 0, first->mono.size()), 1e-4);
    // The tone started about a second into the second chunk and plays to its end.
    const std::vector<float> tail(second->mono.begin() + static_cast<std::ptrdiff_t>(second->mono.size() / 2),
                                  second->mono.end());
    EXPECT_GT(windowedTonePower(tail, 48000, 440.0), 0.001);
}

// A headset takes over at 6 s: it becomes the default output and the program's stream moves to
// it. "Default output" (listed first) follows with at most a second of silence; a pinned device
// does not.
TEST_F(CliRecord, DefaultOutputFollowsANewDefaultDevice) {
    Tone tone(440, 60, QStringLiteral("meeting"));
    sleepSeconds(1.0);
    const QString sources = runCli({QStringLiteral("sources")}).out;
    const qsizetype followedAt = sources.indexOf(QStringLiteral("\tDefault output (VirtualOutput)\n"));
    EXPECT_TRUE(followedAt >= 0 && followedAt < sources.indexOf(QStringLiteral("\tDesktop Audio ")));
    QTemporaryDir pinnedFolder;
    QProcess followed, pinned;
    followed.start(cliPath(),
                   record(QStringLiteral("--device-id dflt1 --format wav --seconds 14 --source default")));
    pinned.start(cliPath(),
                 QStringLiteral("record --dir %1 --device-id pin1 --format wav --seconds 14 --source %2")
                     .arg(pinnedFolder.path(), sourceID(QStringLiteral("Desktop Audio (VirtualOutput)")))
                     .split(u' '));
    sleepSeconds(6.0);
    shell(QStringLiteral("pactl set-default-sink virt_out2 && pactl list short sink-inputs | "
                         "cut -f1 | xargs -r -I{} pactl move-sink-input {} virt_out2"));
    const QString log = finished(followed, 0);
    finished(pinned, 0);
    shell(QStringLiteral("pactl set-default-sink virt_out")); // as the next test on this server expects
    EXPECT_TRUE(log.contains(QStringLiteral("Source: Default output (VirtualOutput)")));
    EXPECT_TRUE(log.contains(QStringLiteral("🔀 Default output changed: VirtualOutput → VirtualOutput2")))
        << log.toStdString();
    const auto audio = onlyChunk(folder);
    const auto pinnedAudio = onlyChunk(pinnedFolder);
    ASSERT_TRUE(audio && pinnedAudio);
    const auto [before, after] = toneAtEnds(*audio, 440.0, 4.0);
    EXPECT_GT(std::min(before, after), 0.01);
    EXPECT_LE(longestSilenceSeconds(audio->mono), 1.0);
    const auto [pinnedBefore, pinnedAfter] = toneAtEnds(*pinnedAudio, 440.0, 4.0);
    EXPECT_GT(pinnedBefore, 0.01);
    EXPECT_LT(pinnedAfter, 1e-5);
}

// The sound server crashes at 5 s. Back a second later: the recording goes on in the same chunk,
// as long as the wall clock, the gap as silence. Gone for good: after waiting 30 s for it the
// recording stops with an error, its chunk finished and named like after a Stop, nothing hidden.
TEST_F(CliRecord, SoundServerRestartKeepsOneContinuousChunk) {
    std::optional<Tone> tone(std::in_place, 440, 60, QStringLiteral("meeting"));
    sleepSeconds(1.0);
    QProcess cli;
    cli.start(cliPath(), record(QStringLiteral("--device-id rst1 --format wav --seconds 16")));
    sleepSeconds(5.0);
    killSoundServer();
    tone.reset();
    sleepSeconds(1.0);
    shell(QStringLiteral("timeout 30 bash \"$VELTRANE_SOUND_SERVER_RESTART\" >/dev/null"));
    tone.emplace(440, 60, QStringLiteral("meeting"));
    const QString log = finished(cli, 0);
    EXPECT_TRUE(log.contains(QStringLiteral("⚠️ Sound server connection lost"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("✅ Sound server back: recording resumed")));
    const auto audio = onlyChunk(folder);
    ASSERT_TRUE(audio);
    EXPECT_NEAR(audio->durationSeconds, 16.0, 0.5);
    const auto [before, after] = toneAtEnds(*audio, 440.0, 4.0);
    EXPECT_GT(std::min(before, after), 0.01);
    EXPECT_LE(longestSilenceSeconds(audio->mono), 3.0);
}

TEST_F(CliRecord, SoundServerGoneForGoodFinishesTheLastChunk) {
    Tone tone(440, 60, QStringLiteral("meeting"));
    sleepSeconds(1.0);
    QProcess cli;
    cli.start(cliPath(), record(QStringLiteral("--device-id gone1 --format wav")));
    sleepSeconds(4.0);
    killSoundServer();
    const QString log = finished(cli, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("❌ Sound server did not come back within 30 s")));
    ASSERT_EQ(filesIn(folder).size(), 1u) << log.toStdString();
    EXPECT_TRUE(filesIn(folder)[0].filename().string().ends_with("-chunk-001-START-STOP.wav"));
    const auto audio = onlyChunk(folder);
    ASSERT_TRUE(audio);
    EXPECT_GT(audio->durationSeconds, 3.0);
    EXPECT_GT(toneAtEnds(*audio, 440.0, 3.0).first, 0.01);
}

// The recorded program ends and a new process of the same binary plays 3 s later: the
// recording follows it, in one chunk.
TEST_F(CliRecord, ApplicationThatPlaysAgainIsFollowed) {
    std::optional<Tone> tone(std::in_place, 1000, 5, QStringLiteral("caller"));
    sleepSeconds(1.5);
    QProcess cli;
    cli.start(cliPath(), record(QStringLiteral("--device-id app2 --format wav --seconds 14 --source ") +
                                sourceID(QStringLiteral("App: caller"))));
    ASSERT_TRUE(tone->waitForEnd());
    sleepSeconds(3.0);
    tone.emplace(1000, 30, QStringLiteral("caller"));
    const QString log = finished(cli, 0);
    EXPECT_TRUE(log.contains(QStringLiteral(" plays again (process "))) << log.toStdString();
    const auto audio = onlyChunk(folder);
    ASSERT_TRUE(audio);
    const auto [before, after] = toneAtEnds(*audio, 1000.0, 2.0);
    EXPECT_GT(std::min(before, after), 0.01);
}

// A stand-in screen saver on a private session bus sees the recording hold off sleep and give
// the inhibitor back, after a normal stop and after a stop by error (its device removed).
TEST_F(CliRecord, SleepIsHeldOffWhileRecording) {
    QProcess bus, screenSaver, cli;
    bus.start(QStringLiteral("dbus-daemon"),
              QStringLiteral("--session --nofork --print-address").split(u' '));
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                       QString::fromUtf8(bus.readLine()).trimmed());
    screenSaver.setProcessEnvironment(environment);
    screenSaver.start(QStringLiteral(VELTRANE_TESTS_DIR "/integration/screensaver-stand-in.py"));
    QString seen;
    ASSERT_TRUE(waitForOutput(screenSaver, QStringLiteral("ready"), seen, 20000));

    EXPECT_EQ(runCli(record(QStringLiteral("--device-id nap1 --format wav --seconds 3")), 60000, environment)
                  .exitCode,
              0);
    EXPECT_TRUE(waitForOutput(screenSaver, QStringLiteral("UnInhibit 1\n"), seen, 20000))
        << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("Inhibit VeltraneRecorder Recording a meeting -> 1\n")));

    cli.setProcessEnvironment(environment);
    cli.start(cliPath(), record(QStringLiteral("--device-id nap2 --format wav --source ") +
                                sourceID(QStringLiteral("Desktop Audio (VirtualOutput2)"))));
    ASSERT_TRUE(waitForOutput(screenSaver, QStringLiteral("-> 2\n"), seen, 30000)) << seen.toStdString();
    shell(QStringLiteral(
        "pactl list short modules | grep sink_name=virt_out2 | cut -f1 | xargs pactl unload-module"));
    finished(cli, 1);
    EXPECT_TRUE(waitForOutput(screenSaver, QStringLiteral("UnInhibit 2\n"), seen, 20000))
        << seen.toStdString();
    screenSaver.kill();
    bus.kill();
    screenSaver.waitForFinished();
    bus.waitForFinished();
}

TEST_F(CliRecord, BadArgumentsAreRejectedWithUsageErrors) {
    const std::pair<const char*, const char*> cases[] = {
        {"--device-id abc", ""}, {"--device-id a1 --source 999999999", "unknown source"}};
    for (const auto& [options, message] : cases) {
        const CliRun run = runCli(record(QString::fromLatin1(options)), 30000);
        EXPECT_EQ(run.exitCode, 2) << options;
        EXPECT_TRUE(run.err.contains(QString::fromLatin1(message))) << run.err.toStdString();
    }
    EXPECT_EQ(
        runCli({QStringLiteral("record"), QStringLiteral("--dir"), folder.path() + QStringLiteral("/missing"),
                QStringLiteral("--device-id"), QStringLiteral("a1")},
               30000)
            .exitCode,
        2);
    EXPECT_TRUE(filesIn(folder).empty());
}

TEST_F(CliRecord, NoSoundServerFailsQuicklyWithAMessage) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
    const CliRun run = runCli(record(QStringLiteral("--device-id a1 --seconds 5")), 30000, environment);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Error: "))) << run.err.toStdString();
    EXPECT_TRUE(filesIn(folder).empty());
}

} // namespace
} // namespace veltrane::test
