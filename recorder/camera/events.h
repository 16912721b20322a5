#pragma once
// Camera status codes and log event codes shared by the recorder's threads
// and windows; the messages that carry them are in messages.h.
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
  kEventImageUndecodable = 18,
  kEventCameraAnsweredError = 19,
  kEventFtpDownloadFailed = 20,
  // Events of unattended use, beyond the design's list:
  kEventRecordingRemoved = 21,   // retention deleted a recording; argument its path
  kEventRetentionOff = 22,       // a camera's save path allows no retention; argument the path and why
  kEventCameraOffline = 23,      // a running camera delivered no picture for the offline time
  kEventCameraBackOnline = 24,   // the first picture after that; argument the length of the gap
  kEventMotionStarted = 25,      // argument the path the triggering frame went to
  kEventMotionEnded = 26,
  kEventCommandKilled = 27,      // the event command ran past its limit; argument the event it ran for
};
// The event text for a code; "" for codes outside the list.
const char* EventText(int32_t code);

// Stop reasons carried by the stop message and echoed by the stopped message.
enum StopReason : int32_t { kStopReasonStop = 0, kStopReasonDiscard = 1, kStopReasonRestart = 2 };

// Posts the log event message to the log thread with a heap copy of the text (none when empty).
// When the post fails the copy is destroyed here. Returns whether it was queued. The
// source is the reporting worker's thread id (0 for none), so that a console can
// name the camera; the log file and view show the line without it.
bool PostLogEvent(platform::ThreadId logThread, int32_t code, const std::string& argument,
                  platform::ThreadId source = 0);

}  // namespace recorder::camera
