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

// An output device whose sound can be captured as a whole (everything it plays). It takes
// the place a display has on platforms that capture per screen.
struct OutputDevice {
    // Stable across restarts of the sound server: derived from `name`, never from an index.
    std::uint32_t displayID = 0;
    std::string name; // the sound server's device name, e.g. "alsa_output.pci-0000_00_1f.3.analog-stereo"
    std::string description; // human-readable, e.g. "Built-in Audio Analog Stereo"

    friend bool operator==(const OutputDevice&, const OutputDevice&) = default;
};

// A running program that is playing audio (has at least one playback stream).
struct RunningApplication {
    std::int32_t processID = 0;
    std::string applicationName;  // e.g. "Firefox"
    std::string bundleIdentifier; // the program's binary name, e.g. "firefox"; may be empty

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// A snapshot of what can be captured at one moment. The first display is the default output
// (named kDefaultOutputDeviceName, described as the device that is the default now) when
// the server has one.
struct ShareableContent {
    std::vector<OutputDevice> displays;
    std::vector<RunningApplication> applications;

    friend bool operator==(const ShareableContent&, const ShareableContent&) = default;
};

using ShareableContentPtr = std::shared_ptr<const ShareableContent>;

// A microphone: an input device of the sound server that is not the monitor of an output, or the
// default input (uniqueID kDefaultInputDeviceName), listed first.
struct CaptureDevice {
    std::string uniqueID;      // the source's stable name
    std::string localizedName; // its description

    friend bool operator==(const CaptureDevice&, const CaptureDevice&) = default;
};

} // namespace veltrane
