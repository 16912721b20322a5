#pragma once

namespace converter {

// FFmpeg's own messages on standard error would only repeat, less clearly, what the
// writers' failure texts and the result say; this keeps them to fatal ones.
void QuietEncoderLog();

}  // namespace converter
