#pragma once

#include "platform/capture/ShareableContent.h"
#include "platform/media/SampleBuffer.h"

#include <vector>

namespace veltrane {

// What a system-audio stream captures: a whole output device minus some applications, or
// only the given applications' playback.
struct ContentFilter {
    enum class Mode { displayExcludingApplications, displayIncludingApplications };

    Mode mode = Mode::displayExcludingApplications;
    OutputDevice display;
    std::vector<RunningApplication> applications; // excluded or included, by `mode`

    friend bool operator==(const ContentFilter&, const ContentFilter&) = default;
};

struct StreamConfiguration {
    bool capturesAudio = true;
    int sampleRate = 48000;
    int channelCount = 2;
    bool excludesCurrentProcessAudio = true;
    int width = 10;
    int height = 10;
    MediaTime minimumFrameInterval = MediaTime::make(1, 1);
    int queueDepth = 3;

    friend bool operator==(const StreamConfiguration&, const StreamConfiguration&) = default;
};

enum class StreamOutputType { screen, audio };

} // namespace veltrane
