#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veltrane {

// The device names that stand for the sound server's default output and default input, followed
// when the user (or the server, as a headset connects) makes another device the default.
inline constexpr const char* kDefaultOutputDeviceName = "@DEFAULT_SINK@";
inline constexpr const char* kDefaultInputDeviceName = "@DEFAULT_SOURCE@";

// An output device (a sink) whose sound can be captured as a whole, through its monitor source:
// everything it plays.
struct OutputDevice {
    // Stable across restarts of the sound server: derived from `name`, never from an index.
    std::uint32_t outputID = 0;
    std::string name;        // the sink's name, e.g. "alsa_output.pci-0000_00_1f.3.analog-stereo"
    std::string description; // human-readable, e.g. "Built-in Audio Analog Stereo"

    friend bool operator==(const OutputDevice&, const OutputDevice&) = default;
};

// A running program that is playing audio (has at least one playback stream, a sink input).
struct RunningApplication {
    std::int32_t processID = 0;
    std::string applicationName; // e.g. "Firefox"
    std::string binaryName;      // the program's binary name, e.g. "firefox"; may be empty

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// A snapshot of what can be captured at one moment. The first output is the default output
// (named kDefaultOutputDeviceName, described as the device that is the default now) when
// the server has one.
struct CaptureSources {
    std::vector<OutputDevice> outputs;
    std::vector<RunningApplication> applications;

    friend bool operator==(const CaptureSources&, const CaptureSources&) = default;
};

using CaptureSourcesPtr = std::shared_ptr<const CaptureSources>;

// A microphone: a source of the sound server that is not the monitor of an output, or the
// default input (named kDefaultInputDeviceName), listed first.
struct InputDevice {
    std::string name;        // the source's stable name
    std::string description; // human-readable

    friend bool operator==(const InputDevice&, const InputDevice&) = default;
};

// What a system-audio stream captures: a whole output minus some applications, or only the
// given applications' playback.
struct CaptureTarget {
    enum class Mode { outputExcludingApplications, applicationsOnly };

    Mode mode = Mode::outputExcludingApplications;
    OutputDevice output;                          // captured through its monitor; unused for applicationsOnly
    std::vector<RunningApplication> applications; // excluded or included, by `mode`

    friend bool operator==(const CaptureTarget&, const CaptureTarget&) = default;
};

// The format a system-audio stream delivers.
struct StreamSettings {
    int sampleRate = 48000;
    int channelCount = 2;

    friend bool operator==(const StreamSettings&, const StreamSettings&) = default;
};

} // namespace veltrane
