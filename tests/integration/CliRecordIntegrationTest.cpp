// Records with the real command line against a private sound server (started around this
// binary by scripts/with-pulse.sh) and checks the chunk files it leaves.
#include "support/AudioFileProbe.h"
#include "support/CliProcess.h"
#include "support/TonePlayer.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

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

    const CliRun run = runCli(
        record(QStringLiteral("--device-id room2 --format wav --seconds 6 --source ") + match.captured(1)));
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
    const CliRun again = runCli({QStringLiteral("sources")});
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
    const auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 2u);
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
