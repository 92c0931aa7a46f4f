// Records onto a small private file system and takes the space or the folder away while the
// recording runs: the recording must stop by itself with a message, keep every chunk it had
// finished, and leave no hidden partial file that no log line explains. Needs root (mount).
#include "support/AudioFileProbe.h"
#include "support/CliProcess.h"
#include "support/TonePlayer.h"

#include <QDir>
#include <gtest/gtest.h>

#include <unistd.h>

namespace veltrane::test {
namespace {

bool shell(const QString& command) {
    return QProcess::execute(QStringLiteral("bash"), {QStringLiteral("-c"), command}) == 0;
}

// A 3 MiB file system at `path`, detached again (with anything mounted on it) in every path.
struct SmallDisk {
    explicit SmallDisk(const QString& path)
        : path(path), mounted(::getuid() == 0 &&
                              shell(QStringLiteral("mount -t tmpfs -o size=3m tmpfs '%1'").arg(path))) {}
    ~SmallDisk() {
        if (mounted) {
            shell(QStringLiteral("umount -l '%1'").arg(path));
        }
    }
    QString path;
    bool mounted;
};

struct Fault {
    const char* name;
    const char* command; // run once the first chunk is saved; %1 is the recording folder
    const char* message; // what standard error must name
};

// The folder turns read-only through a read-only bind mount over it (tried again while a file
// the recorder just opened makes it busy); a remount of the whole file system would be refused.
const Fault kFaults[] = {
    {"DiskFull", "", "No space left on device"},
    {"FolderReadOnly", "for i in $(seq 20); do mount -o bind,ro '%1' '%1' && exit 0; sleep 0.2; done; exit 1",
     "Read-only file system"},
    {"FolderRemoved", "ln '%1'/*.wav '%1'/.. && rm -rf '%1'", "No such file or directory"},
};

class CliDiskFault : public ::testing::TestWithParam<Fault> {};

TEST_P(CliDiskFault, RecordingStopsAndKeepsWhatWasFinished) {
    const Fault& fault = GetParam();
    QTemporaryDir mountPoint;
    const SmallDisk disk(mountPoint.path());
    if (!disk.mounted) {
        GTEST_SKIP() << "needs root and a tmpfs mount (mount -t tmpfs) to fill or take away a disk";
    }
    const QString folder = mountPoint.path() + QStringLiteral("/rec");
    ASSERT_TRUE(QDir().mkdir(folder));
    Tone tone(440, 90, QStringLiteral("diskTone"));
    sleepSeconds(1.0);
    QProcess cli;
    cli.start(cliPath(),
              QStringLiteral("record --device-id disk1 --format wav --seconds 60 --chunk-seconds 5 --dir %1")
                  .arg(folder)
                  .split(u' '));
    QString out;
    ASSERT_TRUE(waitForOutput(cli, QStringLiteral("✅ Chunk saved: "), out)) << out.toStdString();
    if (fault.command[0] != '\0') {
        ASSERT_TRUE(shell(QString::fromLatin1(fault.command).arg(folder)));
    }
    ASSERT_TRUE(cli.waitForFinished(120000));
    out += QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(cli.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QString::fromLatin1(fault.message))) << err.toStdString();

    // Every chunk finished before the fault is whole (the removed folder's were linked aside).
    int chunks = 0;
    for (const QString& place : {folder, mountPoint.path()}) {
        for (const QString& name : QDir(place).entryList({QStringLiteral("*.wav")}, QDir::Files)) {
            ++chunks;
            const auto audio = decodeAudioFile((place + QLatin1Char('/') + name).toStdString());
            ASSERT_TRUE(audio) << name.toStdString();
            EXPECT_NEAR(audio->durationSeconds, 5.0, 0.05) << name.toStdString();
            EXPECT_GT(tonePower(audio->mono, 48000, 440.0), 0.001) << name.toStdString();
        }
    }
    EXPECT_GT(chunks, 0);
    for (const QString& partial :
         QDir(folder).entryList({QStringLiteral(".*.partial")}, QDir::Files | QDir::Hidden)) {
        EXPECT_TRUE(err.contains(QStringLiteral("⚠️")) && err.contains(partial)) << partial.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, CliDiskFault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace veltrane::test
