// Records with the real command line against a private sound server (started around this
// binary by scripts/with-pulse.sh) and checks the chunk files it leaves.
#include "integration/AudioFileProbe.h"
#include "integration/CliProcess.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace veltrane::test {
namespace {

class CliRecord : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(cliPath().isEmpty());
        ASSERT_TRUE(folder.isValid());
    }

    // Records 25 s in 10 s chunks while a 440 Hz tone plays and checks the three chunks.
    void recordsThreeChunksOfTone(const QString& format, const std::string& codec) {
        Tone tone(440, 60, QStringLiteral("toneA"));
        sleepSeconds(1.0);
        const CliRun run = runCli(
            {QStringLiteral("record"), QStringLiteral("--dir"), folder.path(), QStringLiteral("--device-id"),
             QStringLiteral("studio7"), QStringLiteral("--format"), format, QStringLiteral("--seconds"),
             QStringLiteral("25"), QStringLiteral("--chunk-seconds"), QStringLiteral("10")});
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("=== Start Recording ===")));
        EXPECT_TRUE(run.out.contains(QStringLiteral("✅ Recording started (system audio only)")));

        const auto files = filesIn(folder);
        ASSERT_EQ(files.size(), 3u) << run.out.toStdString();
        const QString extension = QStringLiteral(".") + format;
        const QRegularExpression name(
            QStringLiteral("^studio7-\\d{4}-\\d\\d-\\d\\d-\\d{6}-chunk-(001-START|002|003-STOP)\\") +
            extension + QStringLiteral("$"));
        double total = 0;
        const double expected[] = {10.0, 10.0, 5.0};
        for (std::size_t i = 0; i < files.size(); ++i) {
            const QString fileName = QString::fromStdString(files[i].filename().string());
            EXPECT_TRUE(name.match(fileName).hasMatch()) << fileName.toStdString();
            const auto audio = decodeAudioFile(files[i]);
            ASSERT_TRUE(audio) << fileName.toStdString();
            EXPECT_EQ(audio->codecName, codec);
            EXPECT_EQ(audio->sampleRate, 48000);
            EXPECT_EQ(audio->channels, 2);
            total += audio->durationSeconds;
            // Chunks 1 and 2 rotate at the first buffer at or after 10 s; the last one holds
            // what was left when the stop came.
            EXPECT_NEAR(audio->durationSeconds, expected[i], i < 2 ? 0.03 : 0.5) << fileName.toStdString();
            // Window by window: a player that skips on a busy machine shifts its tone's phase,
            // which a measure over the whole file punishes.
            const double at440 = windowedTonePower(audio->mono, 48000, 440.0);
            const double at1000 = windowedTonePower(audio->mono, 48000, 1000.0);
            EXPECT_GT(at440, 0.001) << fileName.toStdString();
            EXPECT_GT(at440, 100 * at1000) << fileName.toStdString();
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
    const QRegularExpression line(QStringLiteral("^(\\d+)\\tApp: toneHigh$"),
                                  QRegularExpression::MultilineOption);
    const auto match = line.match(sources.out);
    ASSERT_TRUE(match.hasMatch()) << sources.out.toStdString();
    EXPECT_TRUE(sources.out.contains(QStringLiteral("\tDesktop Audio (VirtualOutput)\n")));

    const CliRun run = runCli({QStringLiteral("record"), QStringLiteral("--dir"), folder.path(),
                               QStringLiteral("--device-id"), QStringLiteral("room2"),
                               QStringLiteral("--format"), QStringLiteral("wav"), QStringLiteral("--source"),
                               match.captured(1), QStringLiteral("--seconds"), QStringLiteral("6")});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString() << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("✅ App filter created for: toneHigh")));
    const auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0].filename().string().ends_with("-chunk-001-START-STOP.wav"));
    const auto audio = decodeAudioFile(files[0]);
    ASSERT_TRUE(audio);
    // A player with little buffered skips on a busy machine: each hole shifts its tone's phase,
    // and a measure over the whole file adds the pieces out of phase until the tone all but
    // vanishes. Both tones are measured window by window over the whole file.
    const double wanted = windowedTonePower(audio->mono, 48000, 1000.0);
    const double other = windowedTonePower(audio->mono, 48000, 440.0);
    EXPECT_GT(wanted, 0.001);
    EXPECT_LT(other, wanted / 1000);
}

TEST_F(CliRecord, SilenceBeforeTheToneStillFillsWallClockTime) {
    QProcess cli;
    cli.start(cliPath(), {QStringLiteral("record"), QStringLiteral("--dir"), folder.path(),
                          QStringLiteral("--device-id"), QStringLiteral("quiet1"), QStringLiteral("--format"),
                          QStringLiteral("wav"), QStringLiteral("--seconds"), QStringLiteral("20"),
                          QStringLiteral("--chunk-seconds"), QStringLiteral("10")});
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
    const std::size_t tail = second->mono.size() / 2;
    EXPECT_GT(windowedTonePower(std::vector<float>(second->mono.begin() + static_cast<std::ptrdiff_t>(tail),
                                                   second->mono.end()),
                                48000, 440.0),
              0.001);
}

TEST_F(CliRecord, BadArgumentsAreRejectedWithUsageErrors) {
    const auto record = [&](QStringList extra) {
        QStringList arguments{QStringLiteral("record")};
        arguments += extra;
        return runCli(arguments, 30000);
    };
    EXPECT_EQ(
        record({QStringLiteral("--dir"), folder.path(), QStringLiteral("--device-id"), QStringLiteral("abc")})
            .exitCode,
        2);
    EXPECT_EQ(record({QStringLiteral("--dir"), folder.path() + QStringLiteral("/missing"),
                      QStringLiteral("--device-id"), QStringLiteral("a1")})
                  .exitCode,
              2);
    const CliRun unknown =
        record({QStringLiteral("--dir"), folder.path(), QStringLiteral("--device-id"), QStringLiteral("a1"),
                QStringLiteral("--source"), QStringLiteral("999999999")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("unknown source")));
    EXPECT_TRUE(filesIn(folder).empty());
}

TEST_F(CliRecord, NoSoundServerFailsQuicklyWithAMessage) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
    const CliRun run = runCli({QStringLiteral("record"), QStringLiteral("--dir"), folder.path(),
                               QStringLiteral("--device-id"), QStringLiteral("a1"),
                               QStringLiteral("--seconds"), QStringLiteral("5")},
                              30000, environment);
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("Error: "))) << run.err.toStdString();
    EXPECT_TRUE(filesIn(folder).empty());
}

} // namespace
} // namespace veltrane::test
