#pragma once
// Camera status codes, log event codes and message numbers shared by the
// recorder's threads and windows.
#include <cstdint>
#include <string>

#include "platform/message.h"

namespace recorder::camera {

// Status codes a worker reports for its camera's list row.
enum CameraStatus : int32_t {
  kStatusConnecting = 0,
  kStatusStarted = 1,
  kStatusInitFailed = 2,
  kStatusDirCreateFailed = 3,
  kStatusOpenFileFailed = 4,
  kStatusDiskFull = 5,
  kStatusSocCreateFailed = 6,
  kStatusXmtFailed = 7,
};
// "Connecting...", "Started", ...; nullptr for codes outside 0..7.
const char* StatusText(int32_t status);
constexpr const char* kStatusStoppedText = "Stopped";

// Event codes of the event log; the text is fixed by the code.
enum LogEventCode : int32_t {
  kEventLogfileStarted = 0,
  kEventDirCreateFailed = 1,
  kEventMjpgCreateFailed = 2,
  kEventFrameDropped = 3,
  kEventJpgCreateFailed = 4,
  kEventEncodeFailed = 5,
  kEventNoQuantTable = 6,
  kEventWriteError = 7,
  kEventConnectFailed = 8,
  kEventDeviceInitFailed = 9,
  kEventSocketThreadStarted = 10,
  kEventDeviceThreadStarted = 11,
  kEventSocketThreadExited = 12,
  kEventDeviceThreadExited = 13,
  kEventReEstablished = 14,
  kEventBufferFullRestart = 15,
  kEventBufferFullExit = 16,
  kEventSocketClosed = 17,
};
// The event text for a code; "" for codes outside 0..17.
const char* EventText(int32_t code);

// Stop reasons carried by THREAD_STOP and echoed by CAM_STOPPED.
enum StopReason : int32_t { STOP_REASON_STOP = 0, STOP_REASON_DISCARD = 1, STOP_REASON_RESTART = 2 };

// Message numbers.
constexpr uint32_t CAM_STATUS = platform::WM_USER + 200;         // 1224 worker -> main window
constexpr uint32_t WORKER_START = platform::WM_USER + 200;       // 1224 worker -> itself
constexpr uint32_t LOG_OPEN_VIEW = platform::WM_USER + 200;      // 1224 log thread -> itself
constexpr uint32_t CAM_STOPPED = platform::WM_USER + 201;        // 1225 worker -> main window
constexpr uint32_t THREAD_STOP = platform::WM_USER + 201;        // 1225 main window -> worker / log thread
constexpr uint32_t SNAPSHOT_START = platform::WM_USER + 202;     // 1226 snapshot worker -> itself
constexpr uint32_t WORKER_REGISTER = platform::WM_USER + 203;    // 1227
constexpr uint32_t WORKER_UNREGISTER = platform::WM_USER + 204;  // 1228
constexpr uint32_t SHOW_FRAME = platform::WM_USER + 500;         // 1524
constexpr uint32_t SHOW_FRAME_RECORD = platform::WM_USER + 501;  // 1525
constexpr uint32_t GRID_CHANGED = platform::WM_USER + 502;       // 1526
constexpr uint32_t MOTION_LEVEL = platform::WM_USER + 503;       // 1527
constexpr uint32_t SEND_FRAME = platform::WM_USER + 504;         // 1528
constexpr uint32_t DELETE_SELECTED = platform::WM_USER + 505;    // 1529
constexpr uint32_t LOG_EVENT = platform::WM_USER + 506;          // 1530
constexpr uint32_t LOG_SET_FILE = platform::WM_USER + 507;       // 1531
constexpr uint32_t LOG_SHOW = platform::WM_USER + 508;           // 1532
constexpr uint32_t SHOW_DEVICE_SETTINGS = platform::WM_USER + 509;  // 1533

// Posts LOG_EVENT to the log thread with a heap copy of the text (none when empty).
// When the post fails the copy is destroyed here. Returns whether it was queued.
bool PostLogEvent(platform::ThreadId logThread, int32_t code, const std::string& argument);

}  // namespace recorder::camera
