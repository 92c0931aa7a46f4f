#pragma once

namespace veltrane {

// Keeps FFmpeg's own console chatter off the process's output: the encoder's statistics when a
// file closes, and the container's warning that a hidden partial file lacks the .m4a ending.
// Errors still reach standard error. Process-wide: call once from main.
void limitFfmpegLoggingToErrors();

} // namespace veltrane
