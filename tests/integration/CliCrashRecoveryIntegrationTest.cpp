// The command line recording a tone is killed outright at chosen moments; the next start
// recovers the chunk it was writing. Every chunk then plays and holds the tone, and together
// they reach to within two seconds of the kill.
#include "integration/AudioFileProbe.h"
#include "integration/CliProcess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <iostream>

namespace veltrane::test {
namespace {

constexpr int kSampleRate = 48000;
constexpr double kToneHz = 440;
constexpr double kMostSecondsLost = 2.0;

struct KillCase {
    const char* name;
    const char* format;
    const char* afterLine; // the moment is counted from this line of the recorder's log
    double delaySeconds;
    bool recoversAChunk; // enough audio of the open chunk reached the disk to be kept
};

// Reads the process's output until a line contains `needle`; false when it ends or times out.
bool waitForOutput(QProcess& process, const QString& needle, QString& seen) {
    QElapsedTimer waited;
    waited.start();
    while (!seen.contains(needle)) {
        if (waited.elapsed() > 30000 || process.state() != QProcess::Running) {
            return false;
        }
        process.waitForReadyRead(100);
        seen += QString::fromUtf8(process.readAllStandardOutput());
    }
    return true;
}

class CliCrashRecovery : public ::testing::TestWithParam<KillCase> {};

TEST_P(CliCrashRecovery, TheChunkBeingWrittenIsRecoveredAtTheNextStart) {
    const KillCase& kill = GetParam();
    ASSERT_FALSE(cliPath().isEmpty());
    QTemporaryDir folder;
    Tone tone(static_cast<int>(kToneHz), 60, QStringLiteral("toneCrash"));
    sleepSeconds(1.0);

    QProcess cli;
    cli.start(cliPath(), {QStringLiteral("record"), QStringLiteral("--dir"), folder.path(),
                          QStringLiteral("--device-id"), QStringLiteral("crash1"), QStringLiteral("--format"),
                          QString::fromLatin1(kill.format), QStringLiteral("--chunk-seconds"),
                          QStringLiteral("4"), QStringLiteral("--seconds"), QStringLiteral("30")});
    ASSERT_TRUE(cli.waitForStarted());
    QString output;
    ASSERT_TRUE(waitForOutput(cli, QStringLiteral("Recording started"), output)) << output.toStdString();
    QElapsedTimer recording;
    recording.start();
    ASSERT_TRUE(waitForOutput(cli, QString::fromUtf8(kill.afterLine), output)) << output.toStdString();
    sleepSeconds(kill.delaySeconds);
    cli.kill();
    const double recordedSeconds = static_cast<double>(recording.elapsed()) / 1000;
    ASSERT_TRUE(cli.waitForFinished(10000));

    const CliRun next = runCli({QStringLiteral("record"), QStringLiteral("--dir"), folder.path(),
                                QStringLiteral("--device-id"), QStringLiteral("next1"),
                                QStringLiteral("--seconds"), QStringLiteral("1")});
    ASSERT_EQ(next.exitCode, 0) << next.err.toStdString();

    double totalSeconds = 0;
    for (const auto& file : filesIn(folder)) {
        const std::string name = file.filename().string();
        EXPECT_FALSE(name.starts_with('.')) << "left behind: " << name;
        if (!name.starts_with("crash1-")) {
            continue;
        }
        const auto audio = decodeAudioFile(file);
        ASSERT_TRUE(audio) << name << " does not play";
        EXPECT_GT(windowedTonePower(audio->mono, kSampleRate, kToneHz), 0.01) << name;
        totalSeconds += static_cast<double>(audio->mono.size()) / kSampleRate;
        std::cout << name << ": " << static_cast<double>(audio->mono.size()) / kSampleRate << " s"
                  << std::endl;
    }
    std::cout << "killed after " << recordedSeconds << " s of recording; " << totalSeconds << " s kept, "
              << recordedSeconds - totalSeconds << " s lost" << std::endl;
    EXPECT_GE(totalSeconds, recordedSeconds - kMostSecondsLost);
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
