#pragma once

#include <string_view>

namespace veltrane {

// Diagnostics are plain lines on standard output (or standard error, see below), no levels, no
// time stamps.
// One call writes one whole entry (which may itself hold several lines) atomically
// with respect to other log calls, so entries from different threads never interleave.
void logLine(std::string_view text);

// Sends every later entry to standard error instead, for commands whose standard output is data
// that scripts read.
void sendLogToStandardError();

// Switches standard output to line buffering so every entry reaches a pipe or file
// as soon as it is written.
void enableLineBufferedStdout();

} // namespace veltrane
