#pragma once
// The frame messages that picture windows of every program understand.
#include <cstdint>
#include <memory>
#include <vector>

#include "media/frame_image.h"
#include "platform/message.h"

namespace media {

// A JPEG picture to show: wParam 1 with the bytes as payload and lParam their
// length, or wParam 0 when no picture could be had, then without payload or with
// a short reason as text (lParam its length).
struct ShowFrame : platform::WindowMessage<platform::WM_USER + 500, std::vector<uint8_t>> {};
// A decoded frame with its motion blocks.
struct ShowFrameRecord : platform::WindowMessage<platform::WM_USER + 501, std::unique_ptr<FrameRecord>> {};

static_assert(ShowFrame::kNumber == 1524 && ShowFrameRecord::kNumber == 1525);

}  // namespace media
