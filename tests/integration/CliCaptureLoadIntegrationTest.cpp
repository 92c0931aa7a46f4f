// Records a steady tone with the real command line while every core is busy and the recorder is
// frozen for a second at a time, and checks that the file still holds the tone without a break
// and lasts as long as the recording was asked to.
#include "support/AudioFileProbe.h"
#include "support/CliProcess.h"
#include "support/TonePlayer.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <memory>

namespace veltrane::test {
namespace {

constexpr int kSampleRate = 48000;
constexpr double kToneHz = 440;
constexpr double kRecordSeconds = 30;
constexpr std::size_t kWindowSamples = kSampleRate / 100; // 10 ms
constexpr double kLongestBreakMs = 20;

class CliCaptureLoad : public ::testing::TestWithParam<const char*> {};

TEST_P(CliCaptureLoad, ToneHoldsWhileCoresAreBusyAndTheRecorderStalls) {
    ASSERT_FALSE(cliPath().isEmpty());
    QTemporaryDir folder;
    Tone tone(static_cast<int>(kToneHz), 90, QStringLiteral("toneLoad"));
    sleepSeconds(1.0);
    // A busy loop per core, at normal priority; the processes are killed with their objects.
    std::vector<std::unique_ptr<QProcess>> busy;
    for (int i = 0; i < QThread::idealThreadCount(); ++i) {
        busy.push_back(std::make_unique<QProcess>());
        busy.back()->start(QStringLiteral("bash"),
                           {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    }
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(cliPath(), QStringLiteral("record --device-id load1 --seconds %1 --format %2 --dir %3")
                             .arg(kRecordSeconds)
                             .arg(QString::fromLatin1(GetParam()), folder.path())
                             .split(u' '));
    ASSERT_TRUE(cli.waitForStarted());
    // Freeze every thread of the recorder for a second, four times; the sound server buffers.
    for (const double at : {5.0, 11.0, 17.0, 23.0}) {
        sleepSeconds(at - static_cast<double>(clock.elapsed()) / 1000);
        ::kill(static_cast<pid_t>(cli.processId()), SIGSTOP);
        sleepSeconds(1.0);
        ::kill(static_cast<pid_t>(cli.processId()), SIGCONT);
    }
    ASSERT_TRUE(cli.waitForFinished(90000));
    busy.clear();
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();

    const auto files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    const auto audio = decodeAudioFile(files[0]);
    ASSERT_TRUE(audio);
    EXPECT_NEAR(audio->durationSeconds, kRecordSeconds, 0.3);
    EXPECT_GT(windowedTonePower(audio->mono, kSampleRate, kToneHz), 0.01);
    // The first and last windows may hold the edge of the capture.
    double longestMs = 0;
    for (const SampleRange& range : toneBreaks(audio->mono, kSampleRate, kToneHz, kWindowSamples)) {
        const double lengthMs =
            1000.0 * static_cast<double>(range.endSample - range.beginSample) / kSampleRate;
        std::cout << "break of " << lengthMs << " ms at sample " << range.beginSample << std::endl;
        if (range.beginSample >= kWindowSamples && range.endSample + kWindowSamples <= audio->mono.size()) {
            longestMs = std::max(longestMs, lengthMs);
        }
    }
    EXPECT_LE(longestMs, kLongestBreakMs);
}

INSTANTIATE_TEST_SUITE_P(Formats, CliCaptureLoad, ::testing::Values("wav", "m4a"),
                         [](const auto& info) { return std::string(info.param); });

} // namespace
} // namespace veltrane::test
