#include "converter/encoder_log.h"

extern "C" {
#include <libavutil/log.h>
}

namespace converter {

void QuietEncoderLog() { av_log_set_level(AV_LOG_FATAL); }

}  // namespace converter
