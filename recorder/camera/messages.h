#pragma once
// The recorder's messages, grouped by the receiver that understands them. The
// design reuses numbers for different receivers (1224 is a status report to the
// main window but the start message to a worker), so every receiver has its own
// tags and handlers compare against those only.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/message.h"
#include "platform/message_thread.h"

namespace recorder::camera {

using platform::ThreadMessage;
using platform::WindowMessage;
using platform::WM_USER;

// One line of the event log as its window shows it.
struct LogEntry {
  std::string time;  // "%m/%d/%y (%I:%M:%S %p)"
  std::string text;  // event text, one blank, argument
};
using LogEntries = std::vector<LogEntry>;

// What a worker reports about its recording for the health line of the
// headless recorder (sent after every saved frame, at most once a second).
struct WorkerHealth {
  int64_t framesSaved = 0;       // since the worker started
  int64_t lastSavedTime = 0;     // seconds since 1970 of the last saved frame, 0 when none
  std::string currentFile;       // the file written last
};

// To the main window (the camera controller) from workers, live views and dialogs.
namespace to_main_window {
struct CamStatus : WindowMessage<WM_USER + 200> {};   // wParam worker thread id, lParam status code
struct CamStopped : WindowMessage<WM_USER + 201> {};  // wParam worker thread id, lParam stop reason
// A snapshot worker for a source dialog announces itself so that shutdown can wait for it.
struct WorkerRegister : WindowMessage<WM_USER + 203, platform::ThreadHandlePtr> {};  // lParam worker id
struct WorkerUnregister : WindowMessage<WM_USER + 204> {};                           // lParam worker id
struct GridChanged : WindowMessage<WM_USER + 502, std::vector<uint8_t>> {};  // lParam live view handle
struct DeleteSelected : WindowMessage<WM_USER + 505> {};
// The recorder's own additions, above the design's numbers:
// a worker's recording figures (wParam worker thread id),
struct WorkerHealthReport : WindowMessage<WM_USER + 512, WorkerHealth> {};
// the end of CameraController::Shutdown's waits, posted by its waiting thread,
struct ShutdownDone : WindowMessage<WM_USER + 514> {};
// and a worker's log line as the log shows it (wParam the worker's thread id),
// kept with its row to say why a camera stopped.
struct WorkerLogLine : WindowMessage<WM_USER + 523, std::string> {};
}  // namespace to_main_window

// To a camera worker thread, from itself and from the main window.
namespace to_worker {
struct WorkerStart : ThreadMessage<WM_USER + 200> {};    // posted by the worker to itself
struct ThreadStop : ThreadMessage<WM_USER + 201> {};     // wParam stop reason
struct SnapshotStart : ThreadMessage<WM_USER + 202> {};  // posted by a snapshot worker to itself
struct SendFrame : ThreadMessage<WM_USER + 504> {};
// From the camera options to a running local camera worker: open the device's
// property pages (wParam preview picture handle, lParam owner window handle).
struct ShowDeviceSettings : ThreadMessage<WM_USER + 509> {};
// The recorder's own addition: the camera's live view changed (wParam its window
// handle, 0 for none), so frames go to the view the row holds now.
struct LiveViewChanged : ThreadMessage<WM_USER + 513> {};
// Posted by a network worker to itself when a picture is already whole in its
// receive buffer, so it is taken on the next loop turn without waiting for data.
struct CutHeldImage : ThreadMessage<WM_USER + 520> {};
}  // namespace to_worker

// To the event log thread.
namespace to_log {
struct LogOpenView : ThreadMessage<WM_USER + 200> {};
struct ThreadStop : ThreadMessage<WM_USER + 201> {};
// wParam event code, lParam the reporting worker's thread id (0 for none); payload the argument.
struct LogEvent : ThreadMessage<WM_USER + 506, std::string> {};
struct LogSetFile : ThreadMessage<WM_USER + 507> {};             // wParam 1 log to the file, 0 stop
struct LogShow : ThreadMessage<WM_USER + 508> {};
// wParam: window handle to answer with to_log_window::LogEntriesCopy.
struct LogGetEntries : ThreadMessage<WM_USER + 510> {};
struct LogClear : ThreadMessage<WM_USER + 511> {};  // empties the list; the file stays as it is
// The recorder's own addition: every later event also goes to this thread (wParam
// its id, 0 for none), the event command thread.
struct LogForwardTo : ThreadMessage<WM_USER + 517> {};
}  // namespace to_log

// To the log view window: the log thread's answers and its running feed.
namespace to_log_window {
struct LogEntriesCopy : WindowMessage<WM_USER + 510, LogEntries> {};  // newest first
struct LogEntryAdded : WindowMessage<WM_USER + 515, LogEntry> {};     // the entry now at the top
struct LogShowView : WindowMessage<WM_USER + 516> {};                 // show the window, in front
}  // namespace to_log_window

// To a live view window (frames come with media's frame messages).
namespace to_live_view {
struct MotionLevel : WindowMessage<WM_USER + 503> {};  // wParam level, lParam triggered
struct ShowDeviceSettings : WindowMessage<WM_USER + 509> {};
}  // namespace to_live_view

// Each receiver tells its messages apart by number alone.
static_assert(platform::DistinctNumbers<to_main_window::CamStatus, to_main_window::CamStopped,
                                        to_main_window::WorkerRegister, to_main_window::WorkerUnregister,
                                        to_main_window::GridChanged, to_main_window::DeleteSelected,
                                        to_main_window::WorkerHealthReport, to_main_window::ShutdownDone,
                                        to_main_window::WorkerLogLine>());
static_assert(platform::DistinctNumbers<to_worker::WorkerStart, to_worker::ThreadStop, to_worker::SnapshotStart,
                                        to_worker::SendFrame, to_worker::ShowDeviceSettings,
                                        to_worker::LiveViewChanged, to_worker::CutHeldImage>());
static_assert(platform::DistinctNumbers<to_log::LogOpenView, to_log::ThreadStop, to_log::LogEvent, to_log::LogSetFile,
                                        to_log::LogShow, to_log::LogGetEntries, to_log::LogClear>());
static_assert(platform::DistinctNumbers<to_log_window::LogEntriesCopy, to_log_window::LogEntryAdded,
                                        to_log_window::LogShowView>());
static_assert(platform::DistinctNumbers<to_live_view::MotionLevel, to_live_view::ShowDeviceSettings>());

// The numbers that workers, windows and the log thread agree on.
static_assert(to_main_window::CamStatus::kNumber == 1224 && to_worker::WorkerStart::kNumber == 1224);
static_assert(to_main_window::CamStopped::kNumber == 1225 && to_worker::ThreadStop::kNumber == 1225 &&
              to_log::ThreadStop::kNumber == 1225);
static_assert(to_worker::SnapshotStart::kNumber == 1226);
static_assert(to_main_window::WorkerRegister::kNumber == 1227 && to_main_window::WorkerUnregister::kNumber == 1228);
static_assert(to_main_window::GridChanged::kNumber == 1526 && to_live_view::MotionLevel::kNumber == 1527);
static_assert(to_worker::SendFrame::kNumber == 1528 && to_main_window::DeleteSelected::kNumber == 1529);
static_assert(to_log::LogEvent::kNumber == 1530 && to_log::LogSetFile::kNumber == 1531 &&
              to_log::LogShow::kNumber == 1532);
static_assert(to_live_view::ShowDeviceSettings::kNumber == 1533 && to_worker::ShowDeviceSettings::kNumber == 1533);
static_assert(to_log_window::LogEntriesCopy::kNumber == 1534 && to_log_window::LogEntryAdded::kNumber == 1539 &&
              to_log_window::LogShowView::kNumber == 1540);

}  // namespace recorder::camera
