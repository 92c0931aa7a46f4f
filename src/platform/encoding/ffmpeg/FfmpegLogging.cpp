#include "platform/encoding/ffmpeg/FfmpegLogging.h"

extern "C" {
#include <libavutil/log.h>
}

namespace veltrane {

void limitFfmpegLoggingToErrors() {
    av_log_set_level(AV_LOG_ERROR);
}

} // namespace veltrane
