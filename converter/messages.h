#pragma once
// The converter's messages, grouped by receiver.
//
// A window (or the command line) drives one conversion like this:
//   1. disable its inputs, then CConversionThread::Start(request) with its own
//      window handle in the request;
//   2. on ConvertProgress, move the progress bar (range 0..kFractionRange);
//   3. Cancel posts ConvertCancel to the thread; closing the window during a
//      conversion posts ConvertClose and keeps the window open;
//   4. on ConvertResult, keep the result code and its detail (ResultText);
//   5. on ConvertEnded, the output is finished and the thread is ending: with
//      wParam 0 enable the inputs again and show the result's message
//      (FindResultMessage), with wParam 1 (the close was asked for) end the
//      program without one.
#include <string>

#include "platform/message.h"

namespace converter {

using platform::ThreadMessage;
using platform::WindowMessage;
using platform::WM_USER;

// To the conversion thread.
namespace to_conversion {
struct ConvertStart : ThreadMessage<WM_USER + 200> {};      // posted by the thread to itself
struct ConvertNextFrame : ThreadMessage<WM_USER + 202> {};  // posted by the thread to itself
struct ConvertCancel : ThreadMessage<WM_USER + 203> {};     // stop after the current frame: result 5
struct ConvertClose : ThreadMessage<WM_USER + 204> {};      // stop after the current frame, no result
}  // namespace to_conversion

// To the window that started the conversion.
namespace to_converter_window {
// wParam result code; the payload says why it failed or what damage was skipped ("" for nothing)
struct ConvertResult : WindowMessage<WM_USER + 201, std::string> {};
struct ConvertProgress : WindowMessage<WM_USER + 202> {};  // wParam position 0..kFractionRange, lParam frames written
struct ConvertEnded : WindowMessage<WM_USER + 203> {};     // wParam 1 when the program is to end
}  // namespace to_converter_window

static_assert(to_converter_window::ConvertResult::kNumber == 1225);

}  // namespace converter
