#pragma once

namespace veltrane {

// Keeps FFmpeg's own console chatter (encoder statistics printed when a file closes) off the
// process's output; warnings and errors still reach standard error. Process-wide: call once
// from main.
void limitFfmpegLoggingToWarnings();

} // namespace veltrane
