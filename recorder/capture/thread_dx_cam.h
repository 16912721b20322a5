#pragma once
// The worker thread of one local capture device. Recording: opens the camera's
// device, pulls its most recent frame on the frame timer (paced from the start
// of each tick), runs the frame pipeline, saves and feeds the live view. Snapshot:
// opens the device, optionally shows its properties window, and after one second
// posts one frame to a window and ends.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media/frame_image.h"
#include "platform/message_thread.h"
#include "recorder/camera/camera_record.h"
#include "recorder/capture/capture_service.h"
#include "recorder/capture/dx_video.h"
#include "recorder/frame/alarm_sound.h"
#include "recorder/frame/motion_detector.h"
#include "recorder/recording/frame_records.h"
#include "recorder/recording/health_tally.h"
#include "recorder/recording/recording_output.h"

namespace recorder::capture {

struct LocalWorkerParams {
  std::unique_ptr<camera::CameraRecord> record;  // the worker's own deep copy
  bool resume = false;                           // append to the existing recording
  platform::ThreadId logThreadId = 0;
  platform::WindowHandle mainWindow = 0;        // status, stop and registration messages
  platform::WindowHandle liveViewWindow = 0;    // frames while it is visible; 0 for none
  platform::WindowHandle snapshotTarget = 0;    // non-zero: a snapshot worker reporting to this window
  platform::WindowHandle propertiesParent = 0;  // snapshot: owner of the properties window; 0 for none
  std::shared_ptr<frame::SoundPlayer> soundPlayer;  // null: the desktop player
  std::shared_ptr<CaptureService> service;          // null: DefaultCaptureService()
};

using WorkerClock = std::function<std::chrono::steady_clock::time_point()>;

// Delays of the worker; fixed in production, observed or shortened by tests.
struct LocalWorkerTiming {
  uint32_t snapshotDelayMs = 1000;  // snapshot: from opening to the frame
  uint32_t settingsResumeMs = 1000;  // frame ticks after the properties window closed
  uint32_t soundDelayMs = 1000;
  // After a frame that did not come, the next tick waits at least this long, so a
  // device that delivers nothing does not spin the worker at frame delay 0.
  uint32_t dropPauseMs = 250;
  // While the properties window is open the worker looks at it this often, and
  // gives up the wait when the window has not appeared within the open time-out.
  uint32_t propertiesCheckMs = 1000;
  uint32_t propertiesOpenTimeoutMs = 10000;
  // A change in the properties window shows in the preview this much later.
  uint32_t settingsPreviewMs = 250;
  WorkerClock clock;                                // measures each tick; null: steady_clock
  std::function<void(uint32_t delayMs)> onFrameTimer;  // hears every frame timer set
};

class CThreadDXCam : public platform::MessageThread, private recording::RecordingReporter {
 public:
  explicit CThreadDXCam(LocalWorkerParams params, LocalWorkerTiming timing = {});
  ~CThreadDXCam() override;

  // Creates the worker suspended and resumes it. Returns its handle (id via Id()).
  static platform::ThreadHandlePtr Start(LocalWorkerParams params, LocalWorkerTiming timing = {});

 protected:
  bool InitInstance() override;
  void OnMessage(platform::Message& msg) override;
  void OnTimer(uint32_t timerId) override;

 private:
  // RecordingReporter
  void ReportStatus(int32_t status) override;
  void ReportEvent(int32_t code, const std::string& argument) override;
  bool StopRequested() const override;

  void OnWorkerStart();
  void OnSnapshotStart();
  void OnFrameTick();
  void OnSnapshotFrame();
  void SendFrame(platform::WindowHandle window);
  void OnShowDeviceSettings(platform::WindowHandle frameTarget, platform::WindowHandle owner);
  // The properties window: asked for, then waited for on the queue; `after` runs when it
  // closed (or never came).
  enum class AfterProperties { None, SnapshotTimer, SettingsFrame };
  void ShowProperties(platform::WindowHandle owner, AfterProperties after);
  void EndPropertiesWait();
  void StartFrameTimer(uint32_t delayMs);
  void NoteSavedFrame();
  void EndWorker(int32_t reason);
  bool IsSnapshot() const { return snapshotTarget_ != 0; }
  std::chrono::steady_clock::time_point Now() const;

  std::unique_ptr<camera::CameraRecord> record_;
  bool resume_;
  platform::ThreadId logThreadId_;
  platform::WindowHandle mainWindow_;
  platform::WindowHandle liveViewWindow_;
  platform::WindowHandle snapshotTarget_;
  platform::WindowHandle propertiesParent_;
  std::shared_ptr<frame::SoundPlayer> soundPlayer_;
  LocalWorkerTiming timing_;

  CDXVideo device_;
  frame::MotionDetector detector_;
  std::unique_ptr<recording::RecordingOutput> output_;
  std::string currentPath_;
  bool stopping_ = false;
  uint32_t frameTimer_ = 0;
  uint32_t snapshotTimer_ = 0;
  uint32_t soundTimer_ = 0;

  // The properties window while the worker waits for it.
  bool propertiesOpen_ = false;
  platform::WindowHandle propertiesWindow_ = 0;
  AfterProperties afterProperties_ = AfterProperties::None;
  platform::WindowHandle settingsFrameTarget_ = 0;
  uint32_t propertiesTimer_ = 0;
  uint32_t settingsPreviewTimer_ = 0;
  std::chrono::steady_clock::time_point propertiesAsked_{};

  // Frame records, reused while no live view takes them: a picture of the same size
  // is decoded into the last one's pixel buffer without allocating or clearing.
  recording::FrameRecords frameRecords_;
  bool dropLogged_ = false;  // "Frame was dropped" once until frames come again

  // Health figures for the main window.
  recording::HealthTally healthTally_;
};

}  // namespace recorder::capture
