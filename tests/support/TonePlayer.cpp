#include "support/TonePlayer.h"

#include <csignal>
#include <unistd.h>

namespace veltrane::test {

Tone::Tone(int frequencyHz, double seconds, const QString& clientName) {
    // Its own process group, so the destructor stops the player pipeline and not just the shell.
    process_.setChildProcessModifier([] { ::setpgid(0, 0); });
    process_.start(QStringLiteral("bash"),
                   {QStringLiteral(VELTRANE_SCRIPTS_DIR "/play-tone.sh"), QString::number(frequencyHz),
                    QString::number(seconds), clientName});
    process_.waitForStarted();
}

Tone::~Tone() {
    if (const qint64 pid = process_.processId(); pid > 0) {
        ::kill(-static_cast<pid_t>(pid), SIGTERM);
    }
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

} // namespace veltrane::test
