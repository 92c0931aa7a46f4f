#pragma once

#include <QProcess>
#include <QString>

namespace veltrane::test {

// A sine played into the private sound server's output device by a named client
// (scripts/play-tone.sh) for as long as the object lives; the whole player pipeline stops with it.
class Tone {
public:
    Tone(int frequencyHz, double seconds, const QString& clientName);
    ~Tone();
    Tone(const Tone&) = delete;
    Tone& operator=(const Tone&) = delete;

    // Waits for the tone to end by itself; false when it has not within 30 s.
    bool waitForEnd() { return process_.waitForFinished(30000); }

private:
    QProcess process_;
};

} // namespace veltrane::test
