// The command line recording a tone is killed outright at chosen moments; the next start
// recovers the chunk it was writing. Every chunk then plays and holds the tone, and together
// they reach to within two seconds of the kill.
#include "support/AudioFileProbe.h"
#include "support/CliProcess.h"
#include "support/TonePlayer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace veltrane::test {
namespace {

struct KillCase {
    const char* name;
    const char* format;
    const char* afterLine; // the moment is counted from this line of the recorder's log
    double delaySeconds;
    bool recoversAChunk; // enough audio of the open chunk reached the disk to be kept
};

class CliCrashRecovery : public ::testing::TestWithParam<KillCase> {};

TEST_P(CliCrashRecovery, TheChunkBeingWrittenIsRecoveredAtTheNextStart) {
    const KillCase& kill = GetParam();
    ASSERT_FALSE(cliPath().isEmpty());
    QTemporaryDir folder;
    Tone tone(440, 60, QStringLiteral("toneCrash"));
    sleepSeconds(1.0);
    const QString record = QStringLiteral("record --dir ") + folder.path();
    QProcess cli;
    cli.start(cliPath(),
              (record + QStringLiteral(" --device-id crash1 --chunk-seconds 4 --seconds 30 --format ") +
               QString::fromLatin1(kill.format))
                  .split(u' '));
    QString output;
    ASSERT_TRUE(waitForOutput(cli, QStringLiteral("Recording started"), output)) << output.toStdString();
    QElapsedTimer recording;
    recording.start();
    ASSERT_TRUE(waitForOutput(cli, QString::fromUtf8(kill.afterLine), output)) << output.toStdString();
    sleepSeconds(kill.delaySeconds);
    cli.kill();
    const double recordedSeconds = static_cast<double>(recording.elapsed()) / 1000;
    ASSERT_TRUE(cli.waitForFinished(10000));

    const CliRun next = runCli((record + QStringLiteral(" --device-id next1 --seconds 1")).split(u' '));
    ASSERT_EQ(next.exitCode, 0) << next.err.toStdString();
    double totalSeconds = 0;
    for (const auto& file : filesIn(folder)) {
        const std::string name = file.filename().string();
        EXPECT_FALSE(name.starts_with('.')) << "left behind: " << name;
        if (name.starts_with("crash1-")) {
            const auto audio = decodeAudioFile(file);
            ASSERT_TRUE(audio) << name << " does not play";
            EXPECT_GT(windowedTonePower(audio->mono, 48000, 440.0), 0.01) << name;
            totalSeconds += static_cast<double>(audio->mono.size()) / 48000;
        }
    }
    EXPECT_GE(totalSeconds, recordedSeconds - 2.0) << "killed after " << recordedSeconds << " s";
    EXPECT_LE(totalSeconds, recordedSeconds + 0.5);
    if (kill.recoversAChunk) {
        EXPECT_TRUE(next.out.contains(QStringLiteral("♻️ Chunk recovered: crash1-")))
            << next.out.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, CliCrashRecovery,
                         ::testing::Values(KillCase{"JustAfterStart", "wav", "Recording started", 0.3, false},
                                           KillCase{"MidChunkWav", "wav", "Chunk 2 open", 2.5, true},
                                           KillCase{"MidChunkM4a", "m4a", "Chunk 2 open", 2.5, true},
                                           KillCase{"RightAfterRotation", "m4a", "Chunk 2 open", 0.1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrane::test
